// A backing store of part of the registry: Wine's text files, a binary hive, memory. Private to
// platform/registry; stores live in this folder.
//
// A store is mounted at one place of the tree (its root node, marked kNodeMount). It loads its
// keys into that node and writes them back from it. What changed since the last load or save is in
// the tree: every changed key and its ancestors up to the store's root carry kNodeDirty (a deleted
// subkey marks its parent), and the registry knows that the store as a whole is dirty. A store that
// writes key by key (a hive) walks the dirty nodes and compares them with what it holds; a store
// that rewrites a whole file ignores the marks. Nodes below the root that carry kNodeMount belong
// to other stores and must be skipped.
//
// Saving is two-phase so that one Flush of several stores changes nothing on disk when any of
// them cannot be written: Prepare every dirty store, then Commit each, or Abort all.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/atomic/atomic_file.h"
#include "platform/registry/key_tree.h"
#include "platform/registry/registry.h"
#include "platform/registry/utf8.h"

namespace Branwick::Platform::Reg {

// What a file was when a store read it, so that a file another program wrote since is not
// overwritten with edits made to an older picture of it. All zero when there was no file.
struct CFileIdentity {
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    off_t m_size = 0;
    std::int64_t m_nMtimeNs = 0;
    bool operator==(const CFileIdentity&) const = default;
};

inline CFileIdentity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Of an open file; all zero when fd is not one.
inline CFileIdentity IdentityOf(int fd) {
    struct stat st {};
    return fd >= 0 && fstat(fd, &st) == 0 ? IdentityOf(st) : CFileIdentity{};
}

// Of the file at strPath; all zero when there is none.
inline CFileIdentity IdentityOf(const std::string& strPath) {
    struct stat st {};
    return stat(strPath.c_str(), &st) == 0 ? IdentityOf(st) : CFileIdentity{};
}

// A failed step of a store's atomic file, as Flush reports it.
inline CStatus WriteFailure(const CAtomicFile& file) {
    return {ERROR_CANTWRITE, WidenUtf8(file.Error())};
}

class IRegStore {
public:
    virtual ~IRegStore() = default;

    // Fills pRoot, a fresh empty node, from the backing data. Lines or records that are skipped go
    // to pWarnings. A failure leaves pRoot to be dropped.
    virtual CStatus Load(CKeyNode* pRoot, std::vector<std::wstring>* pWarnings) = 0;
    // Makes the state of root durable somewhere that does not replace the stored data yet (a temp
    // file beside the original, fsynced). Refuses with a clear message, and leaves nothing behind,
    // when writing is not safe now.
    virtual CStatus Prepare(const CKeyNode& root) = 0;
    // The refusals of Prepare that do not depend on the data (a running wineserver, lines that
    // could not be read), without writing anything.
    virtual CStatus CheckWritable() const { return {}; }
    // Whether the backing data changed since the store last loaded or wrote it (another program
    // wrote it meanwhile). Prepare refuses then, so that the other program's change is not lost.
    virtual bool ChangedOnDisk() const { return false; }
    // The refusals of Prepare that concern only this store's own file (a dirty hive), which must
    // not block writing the other stores; a store whose files are written together has none.
    virtual CStatus CheckStoreWritable() const { return {}; }
    // Where a store that writes back data recovered from elsewhere (a hive's logs) keeps the
    // originals first; without a folder such a store refuses to write.
    virtual void KeepOriginalsIn(const std::string& /*strFolder*/) {}
    // What was recovered at load and is not written back yet ("4 log entries from ..."); empty
    // when nothing.
    virtual std::wstring PendingRecovery() const { return {}; }
    // Whether a restore could write key back into this store's file as it is now (bWhole: with
    // everything below it; else only its values), so that nothing is deleted that a restore could
    // not bring back; the refusal says why.
    virtual CStatus CheckRestorable(const CKeyNode& /*key*/, bool /*bWhole*/) const { return {}; }
    // Puts the prepared data in place (rename, fsync of the folder). Only after a good Prepare.
    virtual CStatus Commit() = 0;
    // Drops what Prepare made.
    virtual void Abort() = 0;
};

}  // namespace Branwick::Platform::Reg
