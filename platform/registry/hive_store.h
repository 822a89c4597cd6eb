// A binary Windows hive (regf) read and written through hivex. Private to platform/registry.
//
// Reading takes every key and value into the tree: names as UTF-16, value data as the raw bytes
// hivex joins (big-data records whole), types outside 0-11 kept as they are. Anything hivex cannot
// read (a damaged subtree, a key seen twice) is skipped with a warning, and the hive is then never
// written, because a write based on a partial picture would delete what was not read.
//
// Writing applies the differences between the tree and the file to a copy of the hive in memory
// and commits it to a temporary file beside the hive, which Commit renames over it. hivex cannot
// do some things faithfully; those are refused before anything reaches the disk:
//   - a dirty hive (the sequence numbers differ or the header checksum is wrong) whose .LOG1/.LOG2
//     cannot be replayed: its newest data are there, and hivex neither reads nor keeps them.
//     A dirty hive whose logs replay is read as recovered, in memory; writing it puts the
//     recovered hive in place with sequence numbers above the logs' and empties the logs, after
//     keeping the original hive and logs in the folder KeepOriginalsIn names;
//   - rewriting the values of a key holding a value over 16,344 bytes in a hive of format 1.4 or
//     later (hivex writes plain cells where Windows expects a big-data record), or writing any
//     value over 1,000,000 bytes;
//   - keys with more subkeys or values than hivex handles, deleting below a parent with an `li`
//     subkey list, and adding a key whose name hivex would hash or sort unlike Windows.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/atomic/atomic_file.h"
#include "platform/registry/store.h"

struct hive_h;

namespace Branwick::Platform::Reg {

// The base block of a hive, as far as deciding whether it may be written.
struct CHiveHeader {
    std::uint32_t m_dwSequence1 = 0;
    std::uint32_t m_dwSequence2 = 0;
    std::uint32_t m_dwMajor = 0;
    std::uint32_t m_dwMinor = 0;
    std::uint32_t m_dwFileType = 0;  // 0: a primary hive file
    std::uint32_t m_dwDataSize = 0;  // bytes of hive bins after the 4 KiB base block
    bool m_bChecksumOk = false;
    // Windows left newer data in the logs: it did not shut down cleanly, or still has it loaded.
    bool IsDirty() const { return m_dwSequence1 != m_dwSequence2 || !m_bChecksumOk; }
};

// Reads and checks the base block: ERROR_NOT_REGISTRY_FILE when the file is no regf hive of
// major version 1, ERROR_CANTREAD (with the reason) when it cannot be read.
CStatus ReadHiveHeader(const std::string& strPath, CHiveHeader* pOut);

// The name the hive gives its own root key (UsrClass.dat: "<SID>_Classes"), empty when the file
// cannot be opened.
std::wstring ReadHiveRootName(const std::string& strPath);

class CHiveStore : public IRegStore {
public:
    // Adds the keys Windows makes in memory when it loads the hive (links such as
    // CurrentControlSet), marked kNodeVolatile; called after every load with the store's root.
    using CVolatileMaker = std::function<void(CKeyNode* pRoot)>;

    // strPath: the hive file on the host. strName: how messages call it ("SYSTEM"). strConfineTo:
    // the folder the written file must lie in (a hive that is a link leading elsewhere is not
    // written); empty for no such bound.
    CHiveStore(std::string strPath, std::wstring strName, CVolatileMaker fnVolatile = {},
               std::string strConfineTo = {});
    ~CHiveStore() override;

    CStatus Load(CKeyNode* pRoot, std::vector<std::wstring>* pWarnings) override;
    CStatus CheckStoreWritable() const override;
    void KeepOriginalsIn(const std::string& strFolder) override { m_strOriginals = strFolder; }
    std::wstring PendingRecovery() const override;
    bool ChangedOnDisk() const override;
    CStatus CheckRestorable(const CKeyNode& key, bool bWhole) const override;
    CStatus Prepare(const CKeyNode& root) override;
    CStatus Commit() override;
    void Abort() override;

private:
    CStatus Refuse(LONG lCode, const std::wstring& strWhy) const;
    // Replays the logs of a dirty hive; on success m_pRecovered holds the result.
    CStatus Recover();
    CStatus PrepareRecovered(hive_h* h, CAtomicFile* pFile);
    CStatus KeepOriginals() const;
    CStatus EmptyLogs();

    struct CRecovered;

    std::string m_strPath;
    std::wstring m_strName;
    CVolatileMaker m_fnVolatile;
    std::string m_strConfineTo;
    CFileIdentity m_identity;
    std::wstring m_strIncomplete;  // why the last load was partial; empty when it was complete
    std::unique_ptr<CAtomicFile> m_pPrepared;
    std::unique_ptr<CRecovered> m_pRecovered;
    std::wstring m_strDirty;  // a dirty hive not recovered: what its logs are and why they fail
    std::string m_strOriginals;
    bool m_bBigDataRecords = false;  // version 1.4 and later: large data in big-data records
    std::vector<std::unique_ptr<CAtomicFile>> m_vEmptiedLogs;
};

}  // namespace Branwick::Platform::Reg
