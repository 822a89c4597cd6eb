// The target: the Windows installation the program maintains, seen from Linux. It bundles the
// target's registry, files and environment, and knows whether it is 64-bit (what the Windows
// program calls running under WOW64).
//
// Kinds:
//   Wine prefix     a folder with system.reg ($WINEPREFIX, else ~/.wine); drives from dosdevices/.
//   offline volume  the mount point of a Windows system partition (a folder with
//                   Windows/System32/config) and the name of the user whose profile is cleaned;
//                   the volume is drive C:.
//   test            a registry the caller made (usually in memory) and a folder as drive C:.
//
// Threads: the registry and the files may be used from several threads (see their headers); the
// target itself is not changed after it is opened.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/environment/environment.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"

namespace Branwick::Platform {

enum class ETargetKind { WinePrefix, OfflineVolume, Test };

inline constexpr wchar_t kVolumeDataFolder[] = L"C:\\Corvane\\";

// The host folders of vcHostFolders that exist, as Windows paths through the drives of map (the
// drive whose folder holds it most closely); those no drive reaches are left out.
std::vector<std::wstring> WindowsPathsOf(const CDriveMap& map, const std::vector<std::string>& vcHostFolders);

class CTarget {
public:
    // Opens the Wine prefix in strFolder (empty: $WINEPREFIX, else $HOME/.wine). Null with a
    // sentence in strError when it is no prefix or its registry cannot be read.
    static std::unique_ptr<CTarget> OpenWinePrefix(const std::string& strFolder, std::wstring& strError);

    // Opens the offline Windows volume mounted at strFolder for the user strUser.
    static std::unique_ptr<CTarget> OpenOfflineVolume(const std::string& strFolder, const std::wstring& strUser,
                                                      std::wstring& strError);

    // Opens strFolder as whichever of the two it is (strUser only matters for a volume); a folder
    // that is neither gives null and a sentence saying what was looked for.
    static std::unique_ptr<CTarget> Open(const std::string& strFolder, const std::wstring& strUser,
                                         std::wstring& strError);

    // A test target: reg as its registry (its user is Wine's), strFolder as drive C:.
    static std::unique_ptr<CTarget> OpenTest(const std::string& strFolder, CRegistry reg);

    CTarget(const CTarget&) = delete;
    CTarget& operator=(const CTarget&) = delete;

    ETargetKind Kind() const { return m_eKind; }
    const std::string& Folder() const { return m_strFolder; }  // the prefix, volume or test folder
    bool Is64Bit() const { return m_reg.Is64Bit(); }
    const CRegistry& Registry() const { return m_reg; }
    CFileSystem& Files() const { return *m_pFiles; }
    const CEnvironment& Environment() const { return m_env; }

    // The program's data folder, "%ALLUSERSPROFILE%\Application Data\Corvane\" (PROGRAMDATA when
    // ALLUSERSPROFILE is not set), with its trailing backslash; empty when neither is set.
    // An offline volume that names neither (Windows NT, a bare system partition) keeps the data in
    // "C:\Corvane\" at its root.
    std::wstring DataFolder() const;
    // Why the data folder is not where the target's own system keeps program data, for the user;
    // empty when it is.
    std::wstring DataFolderNote() const;

    // Creates every missing folder of DataFolder() (a Wine prefix has no "Application Data" below
    // ProgramData) and gives its host path. ERROR_PATH_NOT_FOUND when there is no data folder.
    CStatus CreateDataFolder(std::string* pstrHost = nullptr) const;

    // MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT): appends "\??\<path>" and an empty
    // target to PendingFileRenameOperations in HKLM\System\CurrentControlSet\Control\Session
    // Manager, which Wine and Windows carry out at their next start. The path must exist and lie in
    // the target (errors as CFileSystem::DeleteFile gives them). Only the registry in memory
    // changes: it reaches the disk with the operation's Flush, like any registry change.
    CStatus DeleteFileAtRestart(const std::wstring& strPath) const;

    // The folders a font registered by its bare file name is looked for in: the Windows folder's
    // Fonts, and in a Wine prefix also Wine's own font folders on this machine (Wine registers the
    // bitmap fonts it ships, "coure.fon" and friends, by bare name and loads them from there), as
    // paths through the prefix's drives. A Wine font folder that no drive reaches is left out.
    std::vector<std::wstring> FontFolders() const;
    // Replaces Wine's font folders (Windows paths) that FontFolders() gives: for a look at a
    // prefix as a machine with Wine's fonts elsewhere, or none, would see it. Before the target is
    // shared with another thread.
    void UseWineFontFolders(std::vector<std::wstring> vcFolders) {
        m_vcWineFontFolders = std::move(vcFolders);
    }

    // The security identifier of the target's user, as HKEY_USERS names the user's hive: Wine's
    // one fixed user (S-1-5-21-0-0-0-1000) in a prefix and a test target; on a volume the SID
    // its registry found for the user (from the ProfileList, else from UsrClass.dat). Empty when
    // the volume was opened without a user.
    std::wstring UserSid() const;

private:
    CTarget(ETargetKind eKind, std::string strFolder, CRegistry reg, const CEnvironmentUser& user, CDriveMap map);

    ETargetKind m_eKind;
    std::string m_strFolder;
    CRegistry m_reg;
    CEnvironment m_env;
    std::wstring m_strSid;  // when the kind of target fixes it
    std::vector<std::wstring> m_vcWineFontFolders;
    std::unique_ptr<CFileSystem> m_pFiles;

    // The state of the one-writer lock (CWriterLock): the locked folder's descriptor and how many
    // CWriterLock objects of this process hold it.
    friend class CWriterLock;
    mutable std::mutex m_lockMutex;
    mutable int m_nLockFd = -1;
    mutable int m_nLockCount = 0;
};

// The one-writer lock of a target: an flock on the target's folder, taken by every operation that
// writes to the target (fixes, restores, settings, lists, history cleaning, schedule, startup
// items) and held only while it runs; readers never take it. Two processes writing one target at
// once would each save what they read before the other's change, so one change would be lost.
// The kernel drops the lock when its process ends, however it ends.
// Within one process the lock is shared: another CWriterLock of the same target is granted at once
// (the program orders its own operations), and the flock goes with the last of them.
// Not copyable; the destructor releases. Objects of one target may live on different threads.
class CWriterLock {
public:
    CWriterLock() = default;
    ~CWriterLock();
    CWriterLock(const CWriterLock&) = delete;
    CWriterLock& operator=(const CWriterLock&) = delete;

    // Takes the lock of the target, waiting up to nWaitMs while another process holds it. False
    // with one sentence in strError when it is still held then (naming that process when it can be
    // found) or the folder cannot be opened. Taking it again while this object holds it succeeds.
    bool Acquire(const CTarget& target, int nWaitMs, std::wstring& strError);
    void Release();
    bool Held() const { return m_pTarget != nullptr; }

private:
    const CTarget* m_pTarget = nullptr;
};

// How long a writer waits for another before it refuses.
inline constexpr int kWriterWaitMs = 5000;

}  // namespace Branwick::Platform
