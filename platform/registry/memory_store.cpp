#include "platform/registry/memory_store.h"

#include "platform/registry/wine_text.h"

namespace Branwick::Platform::Reg {

CRegStatus CMemoryStore::Load(CKeyNode* pRoot, std::vector<std::wstring>* pWarnings) {
    CLineReader reader(m_sSaved);
    CWineParseOptions options;
    options.m_sFileName = "memory";
    options.m_bRequireMagic = false;
    options.m_qwLoadTime = FileTimeNow();
    CWineParseResult result = ParseWineText(&reader, pRoot, options);
    pWarnings->insert(pWarnings->end(), result.m_vWarnings.begin(), result.m_vWarnings.end());
    return result.m_status;
}

CRegStatus CMemoryStore::Prepare(const CKeyNode& root) {
    CTextOut out;
    WriteWineText(root, CWineWriteOptions{}, &out);
    m_sPrepared = std::move(out.Text());
    return {};
}

CRegStatus CMemoryStore::Commit() {
    m_sSaved = std::move(m_sPrepared);
    m_sPrepared.clear();
    return {};
}

void CMemoryStore::Abort() {
    m_sPrepared.clear();
}

}  // namespace Branwick::Platform::Reg
