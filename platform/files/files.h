// The target's file system in Windows terms: Windows paths in, Win32 answers out.
//
// A path is a full Windows path ("C:\windows\win.ini"; '/' also separates; "\x" means the system
// drive). Drive letters resolve through the target's drive map, names case-insensitively as
// Windows resolves them (an exact spelling wins over another case). UNC, "\\?\" and "\??\" paths
// and relative paths are never found (ERROR_PATH_NOT_FOUND): the target has no network and no
// current folder.
//
// On a 64-bit target the program is a 32-bit Windows program: "%SystemRoot%\system32" means
// syswow64 and "sysnative" means system32, unless a CWow64RedirectionOff lives on the calling
// thread.
//
// Every write (delete, remove, create, move, WriteFile) is confined to the target's own folders:
// a path whose parent folder really lies elsewhere (Wine's z: is the whole Linux tree; the
// Desktop, Documents... of a Wine user are links into the Linux home) is refused with
// ERROR_ACCESS_DENIED and a text saying why. Deleting a symbolic link deletes the link, never what
// it points to. The folder checked is the folder acted in: it is opened from the target's own root
// without following links and the change is made relative to it, so a folder swapped for a link
// between the check and the change makes the change fail (ERROR_ACCESS_DENIED), never go elsewhere.
//
// Threads: one CFileSystem may be used from several threads at once.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

// One entry of a folder listing, as FindFirstFileW/FindNextFileW give it.
struct CFindData {
    std::wstring m_strName;       // as the folder spells it
    DWORD m_dwAttributes = 0;     // FILE_ATTRIBUTE_* word, see GetFileAttributes
    std::uint64_t m_nSize = 0;    // bytes; 0 for folders
    std::int64_t m_nLastWriteTime = 0;  // seconds since 1970-01-01 UTC
};

// Private to files.cpp.
class CConfinedFolder;
struct CFolderEntry;
struct CFolderListing;
struct CResolvedPath;
struct CWinPath;

// Where the target's drives are on the host and which host folders are the target's own.
struct CDriveMap {
    std::map<wchar_t, std::string> m_mapDrives;  // upper-case letter -> host folder
    std::vector<std::string> m_vcOwnRoots;       // writes are allowed below these (and in them)
    std::wstring m_strSystemRoot = L"C:\\windows";
    bool m_bWow64 = false;          // a 64-bit target: a 32-bit program's system32 is syswow64
    bool m_bDotFilesHidden = true;  // Wine shows names starting with '.' as hidden
};

// The host path with every link resolved (realpath), or empty when it does not exist.
std::string RealPath(const std::string& strHost);

// Whether the host path strPath is strRoot or lies below it (both real paths; "/" holds all).
bool IsBelowOrSame(const std::string& strPath, const std::string& strRoot);

// The drive map of a Wine prefix: every "dosdevices/<letter>:" link (not the "<letter>::" device
// entries); the prefix folder and the system drive's folder are the target's own, unless that
// drive is the host root or a folder that holds the prefix (z: never is).
CDriveMap WineDriveMap(const std::string& strPrefix);

class CFileSystem {
public:
    explicit CFileSystem(CDriveMap map);
    ~CFileSystem();
    CFileSystem(const CFileSystem&) = delete;
    CFileSystem& operator=(const CFileSystem&) = delete;

    const CDriveMap& DriveMap() const { return m_map; }

    // Lets fixes delete on the drive (an upper-case letter) too (see CheckFixDelete), making its
    // folder one of the target's own: the user's explicit choice for a drive the prefix maps
    // outside its folder. False when the map has no such drive, or its folder is the host root or
    // holds the target's folder (that would allow everything). Call before any other use.
    bool AllowDrive(wchar_t chDrive);

    // GetFileAttributesW: the attribute word of a file or folder, INVALID_FILE_ATTRIBUTES when it
    // does not exist (pError, if given, receives ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND).
    // The word: 0x10 folder; 0x400 symbolic link (with 0x10 when it leads to a folder, not followed
    // otherwise); 0x1 when nobody may write it; 0x2 for a dot-file of a Wine target; 0x80 for a
    // plain file with none of these. A drive root ("C:\") is a folder; a trailing '\' is allowed.
    DWORD GetFileAttributes(const std::wstring& strPath, LONG* pError = nullptr) const;

    // FindFirstFileW/FindNextFileW: the entries of the pattern's folder whose names match its last
    // element ('*' any run, '?' one character, case-insensitive, "*.*" everything, "x.*" also "x"),
    // "." and ".." first (except in a drive root), the rest in case-insensitive name order. A last
    // element without wildcards names one entry. Errors: ERROR_PATH_NOT_FOUND when the folder
    // is missing, ERROR_FILE_NOT_FOUND when nothing matches (also for a trailing '\').
    CStatus FindFiles(const std::wstring& strPattern, std::vector<CFindData>& vcOut) const;

    // True when FindFirstFileW of the path finds something (a folder counts; a wildcard makes any
    // match count). Uses the scan cache when one is open.
    bool Exists(const std::wstring& strPath) const;

    // DeleteFileW: a file or a symbolic link (the link itself). A folder or a read-only file gives
    // ERROR_ACCESS_DENIED, a missing one ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND.
    CStatus DeleteFile(const std::wstring& strPath);

    // RemoveDirectoryW: an empty folder, or a symbolic link to a folder (the link itself).
    // ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY for a file; a drive root is never removed.
    CStatus RemoveDirectory(const std::wstring& strPath);

    // CreateDirectoryW: one new folder in an existing one. ERROR_ALREADY_EXISTS when the name
    // exists in any case, ERROR_PATH_NOT_FOUND when the parent is missing.
    CStatus CreateDirectory(const std::wstring& strPath);
    // The folder with every missing folder above it (a trailing backslash is allowed); an
    // existing folder is success.
    CStatus CreateFolders(const std::wstring& strPath);

    // MoveFileExW without MOVEFILE_COPY_ALLOWED: renames a file or folder. An existing target
    // gives ERROR_ALREADY_EXISTS unless bReplace (MOVEFILE_REPLACE_EXISTING) is set; a folder is
    // never replaced (ERROR_ACCESS_DENIED); another host file system gives ERROR_NOT_SAME_DEVICE.
    CStatus MoveFile(const std::wstring& strFrom, const std::wstring& strTo, bool bReplace);

    // Reads a whole file. A symbolic link is followed only when it leads into the target's own
    // folders (ERROR_ACCESS_DENIED otherwise), so that a planted link cannot make the program copy
    // a file from elsewhere into the target.
    CStatus ReadFile(const std::wstring& strPath, std::string& strOut) const;

    // Writes a whole file so that it is either as it was or completely new after a crash (temp
    // file in the same folder, fsync, rename, fsync of the folder). An existing file keeps its
    // permissions; a read-only one is refused with ERROR_ACCESS_DENIED, and so is a symbolic link:
    // nothing is ever written through one.
    CStatus WriteFile(const std::wstring& strPath, const std::string& strData);

    // Whether DeleteFile or RemoveDirectory of the path would be allowed: it exists and its folder
    // lies in the target (errors as those give). *pstrFull receives the path as it is resolved:
    // normalised, with WOW64 redirection applied.
    CStatus CheckDelete(const std::wstring& strPath, std::wstring* pstrFull) const;

    // Whether a fix may delete the path: CheckDelete's answer, and besides the path must lie in the
    // target's folder itself (the first of the drive map's own folders: the prefix, the volume) or
    // on a drive given to AllowDrive, else ERROR_ACCESS_DENIED. A drive the prefix maps outside its
    // folder (c: linked beside it) holds the user's own files as much as leftovers.
    CStatus CheckFixDelete(const std::wstring& strPath) const;

    // The host path of a Windows path, for code that must hand a host path to a library. The
    // parent folder must exist; a missing last element keeps the given spelling.
    CStatus HostPath(const std::wstring& strPath, std::string& strHost) const;

    // The scan cache: between BeginScan and the matching EndScan, folder listings are read once
    // and kept, so that existence tests cost no system call after the first in a folder. Writes
    // through this object keep the cache true; changes by others are not seen until EndScan.
    // Calls nest; the cache is dropped at the outermost EndScan.
    void BeginScan();
    void EndScan();

private:
    CResolvedPath Resolve(const std::wstring& strPath, bool bWildcardLeaf) const;
    bool Lookup(const std::string& strDir, const std::wstring& strName, CFolderEntry& entry) const;
    std::shared_ptr<const CFolderListing> CachedListing(const std::string& strDir) const;
    std::shared_ptr<const CFolderListing> AnyListing(const std::string& strDir) const;
    const std::string* OwnRootOf(const std::string& strReal) const;
    CStatus Confine(const CResolvedPath& r, const wchar_t* pVerb,
                    CConfinedFolder* pFolder = nullptr) const;
    CStatus ResolveForDelete(const std::wstring& strPath, CResolvedPath& r,
                             CConfinedFolder* pFolder = nullptr) const;
    void Forget(const std::string& strParent, const std::string& strHost);
    DWORD Attributes(const std::string& strHost, const std::wstring& strName, std::uint64_t* pSize,
                     std::int64_t* pLastWrite = nullptr) const;

    CDriveMap m_map;
    std::unique_ptr<const CWinPath> m_pSystemRoot;  // m_map.m_strSystemRoot, parsed
    std::vector<std::string> m_vcRealRoots;
    std::vector<std::string> m_vcFixRoots;  // real paths: the target's folder and allowed drives
    mutable std::mutex m_mtx;
    int m_nScanDepth = 0;
    mutable std::unordered_map<std::string, std::shared_ptr<const CFolderListing>> m_mapListings;
};

// Keeps the scan cache of a file system open for its lifetime.
class CScanCache {
public:
    explicit CScanCache(CFileSystem& fs) : m_fs(fs) { m_fs.BeginScan(); }
    ~CScanCache() { m_fs.EndScan(); }
    CScanCache(const CScanCache&) = delete;
    CScanCache& operator=(const CScanCache&) = delete;

private:
    CFileSystem& m_fs;
};

// Wow64DisableWow64FsRedirection / Wow64RevertWow64FsRedirection for the calling thread, for the
// lifetime of the object (objects nest).
class CWow64RedirectionOff {
public:
    CWow64RedirectionOff();
    ~CWow64RedirectionOff();
    CWow64RedirectionOff(const CWow64RedirectionOff&) = delete;
    CWow64RedirectionOff& operator=(const CWow64RedirectionOff&) = delete;
};

}  // namespace Branwick::Platform
