// A store in memory, for tests and for targets without files. Its "disk" is the text of its
// subtree as of the last Commit, so Reload returns to the last Flush as a file store would.
#pragma once

#include <string>

#include "platform/registry/store.h"

namespace Branwick::Platform::Reg {

class CMemoryStore : public IRegStore {
public:
    CStatus Load(CKeyNode* pRoot, std::vector<std::wstring>* pWarnings) override;
    CStatus Prepare(const CKeyNode& root) override;
    CStatus Commit() override;
    void Abort() override;

private:
    std::string m_strSaved;
    std::string m_strPrepared;
};

}  // namespace Branwick::Platform::Reg
