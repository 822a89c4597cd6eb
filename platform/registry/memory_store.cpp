#include "platform/registry/memory_store.h"

#include "platform/registry/wine_text.h"

namespace Branwick::Platform::Reg {

CStatus CMemoryStore::Load(CKeyNode* pRoot, std::vector<std::wstring>* pWarnings) {
    CLineReader reader(m_strSaved);
    CWineParseOptions options;
    options.m_strFileName = "memory";
    options.m_bRequireMagic = false;
    options.m_qwLoadTime = FileTimeNow();
    CWineParseResult result = ParseWineText(&reader, pRoot, options);
    pWarnings->insert(pWarnings->end(), result.m_vWarnings.begin(), result.m_vWarnings.end());
    return result.m_status;
}

CStatus CMemoryStore::Prepare(const CKeyNode& root) {
    CTextOut out;
    WriteWineText(root, CWineWriteOptions{}, &out);
    m_strPrepared = std::move(out.Text());
    return {};
}

CStatus CMemoryStore::Commit() {
    m_strSaved = std::move(m_strPrepared);
    m_strPrepared.clear();
    return {};
}

void CMemoryStore::Abort() {
    m_strPrepared.clear();
}

}  // namespace Branwick::Platform::Reg
