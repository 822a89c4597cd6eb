// The Wine registry text loader on arbitrary input: it must never crash or hang, and whatever
// it reads must write out as text that reads back, without a complaint, to the same tree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry/key_tree.h"
#include "platform/registry/wine_text.h"

namespace {

using namespace Branwick::Platform::Reg;

constexpr std::uint64_t kLoadTime = 0x1dd85d6a3ae199aULL;

CWineParseResult Parse(std::string_view text, CKeyNode* pRoot) {
    CLineReader reader(text);
    CWineParseOptions options;
    options.m_strFileName = "fuzz.reg";
    options.m_bRequireMagic = false;
    options.m_qwLoadTime = kLoadTime;
    return ParseWineText(&reader, pRoot, options);
}

std::string Write(const CKeyNode& root, const std::string& arch) {
    CTextOut out;
    CWineWriteOptions options;
    options.m_strBranch = "REGISTRY\\\\Machine";
    options.m_strArch = arch;
    WriteWineText(root, options, &out);
    return std::move(out.Text());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CKeyNode root(u"");
    root.m_qwTime = kLoadTime;
    const CWineParseResult first = Parse(text, &root);
    if (!first.m_status.Ok()) {
        return 0;
    }
    const std::string saved = Write(root, first.m_strArch);
    CKeyNode again(u"");
    again.m_qwTime = kLoadTime;
    const CWineParseResult second = Parse(saved, &again);
    if (!second.m_status.Ok() || second.m_nWarnings != 0) {
        std::fprintf(stderr, "the written text does not read back cleanly\n");
        std::abort();
    }
    if (Write(again, second.m_strArch) != saved) {
        std::fprintf(stderr, "the written text reads back to another tree\n");
        std::abort();
    }
    return 0;
}
