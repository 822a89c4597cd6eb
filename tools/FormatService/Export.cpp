#include <stdexcept>

#include "platform/atomic/atomic_file.h"
#include "tools/FormatService/FormatService.h"

namespace Branwick::Formats {

std::size_t ExportFormats(const CFormatCatalog& catalog, const std::filesystem::path& dir) {
    const std::filesystem::path folder = dir / "extensions";
    std::filesystem::create_directories(folder);
    std::size_t nWritten = 0;
    for (const std::string& strExtension : catalog.Extensions()) {
        const std::optional<std::string> answer = catalog.Answer(strExtension);
        const std::filesystem::path file = folder / strExtension;
        std::string strError;
        if (!answer || !Platform::SaveFileAtomically(file.string(), *answer, strError)) {
            throw std::runtime_error("cannot write " + file.string() + ": " + strError);
        }
        ++nWritten;
    }
    return nWritten;
}

}  // namespace Branwick::Formats
