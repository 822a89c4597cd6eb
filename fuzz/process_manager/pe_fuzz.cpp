// The PE reader on arbitrary bytes: the description and the signature check must never read out
// of bounds, crash or hang, and a file that is not a PE has neither.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/ProcessManager/PeFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Branwick::Tools::CMemorySource source(std::string_view(reinterpret_cast<const char*>(data), size));
    Branwick::Tools::CPeFile pe(source);
    const std::wstring strDescription = pe.FileDescription();
    const Branwick::Tools::CSignerInfo signer = pe.Signer();
    if (!pe.IsPe() && (!strDescription.empty() || signer.m_eState != Branwick::Tools::ESignature::NotSigned)) {
        std::abort();
    }
    if (strDescription.size() > 259) {
        std::abort();
    }
    return 0;
}
