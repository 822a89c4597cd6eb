#include "platform/files/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/atomic/atomic_file.h"
#include "platform/atomic/confined.h"
#include "platform/files/winpath.h"
#include "platform/text/text.h"

namespace Branwick::Platform {

struct CFolderEntry {
    std::string m_strHost;   // the name's bytes on the host
    std::wstring m_strName;
    std::wstring m_strFolded;
    bool m_bFolder = false;  // a folder, or a link that leads to one
};

struct CFolderListing {
    bool m_bOpened = false;
    std::vector<CFolderEntry> m_vcEntries;                     // in folded-name order
    std::unordered_map<std::wstring, std::size_t> m_mapFirst;  // folded name -> first entry
};

struct CResolvedPath {
    LONG m_lCode = ERROR_SUCCESS;
    std::wstring m_strWindows;  // normalised, for messages
    std::string m_strParent;    // host folder of the last element (empty for a drive root)
    std::string m_strHost;      // host path: the existing spelling, else the given one
    std::wstring m_strLeaf;     // last element as given (empty for a drive root)
    bool m_bRoot = false;
    bool m_bParentIsRoot = false;
    bool m_bTrailingSeparator = false;
    bool m_bExists = false;
    CFolderEntry m_entry;       // when m_bExists
};

namespace {

thread_local int t_nRedirectionOff = 0;

LONG ErrnoToWin32(int e) {
    switch (e) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES: case EPERM: case EROFS: case EISDIR: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case EXDEV: return ERROR_NOT_SAME_DEVICE;
        case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
        case EBUSY: case ETXTBSY: return ERROR_SHARING_VIOLATION;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        default: return ERROR_WRITE_FAULT;
    }
}

std::wstring ErrnoText(int e) { return FromUtf8(std::strerror(e)); }

CStatus Fail(LONG nError, std::wstring strText) {
    return {nError, std::move(strText)};
}

CStatus FailErrno(const wchar_t* pVerb, const std::wstring& strPath, int e) {
    return Fail(ErrnoToWin32(e), std::wstring(pVerb) + L" \"" + strPath + L"\" failed: " + ErrnoText(e));
}

std::string JoinHost(const std::string& strDir, const std::string& strName) {
    return strDir.empty() || strDir.back() != '/' ? strDir + '/' + strName : strDir + strName;
}


// Names that no Windows path can spell are left out, as they could never be opened by name.
bool IsWindowsName(const std::wstring& strName) {
    return strName.find_first_of(L"\\:*?\"<>|") == std::wstring::npos;
}

bool IsFolderAt(int dirFd, const char* pName, unsigned char nType) {
    struct stat st;
    if (nType == DT_DIR) {
        return true;
    }
    if (nType != DT_LNK && nType != DT_UNKNOWN) {
        return false;
    }
    return fstatat(dirFd, pName, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

std::shared_ptr<const CFolderListing> ReadListing(const std::string& strDir) {
    auto listing = std::make_shared<CFolderListing>();
    DIR* dir = opendir(strDir.c_str());
    if (!dir) {
        return listing;
    }
    listing->m_bOpened = true;
    while (const dirent* d = readdir(dir)) {
        const std::string strHost = d->d_name;
        if (strHost == "." || strHost == "..") {
            continue;
        }
        CFolderEntry e{strHost, FromUtf8(strHost), {}, false};
        if (!IsWindowsName(e.m_strName)) {
            continue;
        }
        e.m_strFolded = FoldCase(e.m_strName);
        e.m_bFolder = IsFolderAt(dirfd(dir), d->d_name, d->d_type);
        listing->m_vcEntries.push_back(std::move(e));
    }
    closedir(dir);
    auto& v = listing->m_vcEntries;
    std::sort(v.begin(), v.end(), [](const CFolderEntry& a, const CFolderEntry& b) {
        return a.m_strFolded != b.m_strFolded ? a.m_strFolded < b.m_strFolded : a.m_strHost < b.m_strHost;
    });
    for (std::size_t i = v.size(); i-- > 0;) {
        listing->m_mapFirst[v[i].m_strFolded] = i;
    }
    return listing;
}

// An exact spelling wins over another case, as on Windows and in Wine.
bool FindInListing(const CFolderListing& listing, const std::wstring& strName, CFolderEntry& entry) {
    const std::wstring folded = FoldCase(strName);
    const auto it = listing.m_mapFirst.find(folded);
    if (it == listing.m_mapFirst.end()) {
        return false;
    }
    const auto& v = listing.m_vcEntries;
    std::size_t pick = it->second;
    for (std::size_t i = it->second; i < v.size() && v[i].m_strFolded == folded; ++i) {
        if (v[i].m_strName == strName) {
            pick = i;
            break;
        }
    }
    entry = v[pick];
    return true;
}

bool IsAscii(std::string_view str) {
    return std::all_of(str.begin(), str.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

// One pass over a folder for a name in another case, without keeping the listing: what a lookup
// outside a scan costs when the exact spelling is not there. Among several matches the smallest
// host name wins, as in a kept listing.
bool ScanFolderFor(const std::string& strDir, const std::wstring& strName, CFolderEntry& entry) {
    DIR* dir = opendir(strDir.c_str());
    if (!dir) {
        return false;
    }
    const std::string query = ToUtf8(strName);
    const std::wstring folded = FoldCase(strName);
    const bool bAsciiQuery = IsAscii(query);
    bool bFound = false;
    while (const dirent* d = readdir(dir)) {
        const std::string_view host = d->d_name;
        if (host == "." || host == ".." || (bFound && host >= entry.m_strHost)) {
            continue;
        }
        const bool bMatch = (bAsciiQuery && IsAscii(host)) ? AsciiEqualNoCase(host, query)
                                                            : FoldCase(FromUtf8(host)) == folded;
        const std::wstring name = bMatch ? FromUtf8(host) : std::wstring();
        if (bMatch && IsWindowsName(name)) {
            entry = {std::string(host), name, FoldCase(name), IsFolderAt(dirfd(dir), d->d_name, d->d_type)};
            bFound = true;
        }
    }
    closedir(dir);
    return bFound;
}

bool IsReadOnlyFile(const std::string& strHost) {
    struct stat st;
    return lstat(strHost.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & 0222);
}

bool IsLink(const std::string& strHost) {
    struct stat st;
    return lstat(strHost.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The name of the last element on the host, for the *at calls relative to its folder.
std::string LeafOf(const std::string& strHost) {
    return strHost.substr(strHost.rfind('/') + 1);
}

CFindData DotEntry(const wchar_t* pName) { return {pName, FILE_ATTRIBUTE_DIRECTORY, 0}; }

}  // namespace

std::string RealPath(const std::string& strHost) {
    char buf[PATH_MAX];
    return realpath(strHost.c_str(), buf) ? std::string(buf) : std::string();
}

bool IsBelowOrSame(const std::string& strPath, const std::string& strRoot) {
    if (strRoot == "/") {
        return true;
    }
    return strPath == strRoot ||
           (strPath.size() > strRoot.size() && strPath.compare(0, strRoot.size(), strRoot) == 0 &&
            strPath[strRoot.size()] == '/');
}

// ---------------------------------------------------------------------------------------------
// Drive map of a Wine prefix

CDriveMap WineDriveMap(const std::string& strPrefix) {
    CDriveMap map;
    const std::string strDevices = JoinHost(strPrefix, "dosdevices");
    if (DIR* dir = opendir(strDevices.c_str())) {
        while (const dirent* d = readdir(dir)) {
            const std::string name = d->d_name;
            if (name.size() == 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
                map.m_mapDrives[static_cast<wchar_t>(std::toupper(name[0]))] = JoinHost(strDevices, name);
            }
        }
        closedir(dir);
    }
    if (!map.m_mapDrives.count(L'C')) {
        map.m_mapDrives[L'C'] = JoinHost(strPrefix, "drive_c");  // as wineboot would recreate it
    }
    map.m_vcOwnRoots.push_back(strPrefix);
    const std::string strRealPrefix = RealPath(strPrefix);
    const std::string strRealC = RealPath(map.m_mapDrives[L'C']);
    if (!strRealC.empty() && !IsBelowOrSame(strRealPrefix, strRealC) && !IsBelowOrSame(strRealC, strRealPrefix)) {
        map.m_vcOwnRoots.push_back(map.m_mapDrives[L'C']);
    }
    return map;
}

// ---------------------------------------------------------------------------------------------
// Resolution

CFileSystem::CFileSystem(CDriveMap map)
    : m_map(std::move(map)), m_pSystemRoot(std::make_unique<CWinPath>(ParseWinPath(m_map.m_strSystemRoot, L'C', false))) {
    for (const std::string& root : m_map.m_vcOwnRoots) {
        const std::string real = RealPath(root);
        if (!real.empty()) {
            m_vcRealRoots.push_back(real);
        }
    }
    if (!m_map.m_vcOwnRoots.empty()) {
        m_vcFixRoots.push_back(RealPath(m_map.m_vcOwnRoots.front()));
    }
}

CFileSystem::~CFileSystem() = default;

bool CFileSystem::AllowDrive(wchar_t chDrive) {
    const auto drive = m_map.m_mapDrives.find(chDrive);
    const std::string strReal = drive == m_map.m_mapDrives.end() ? std::string() : RealPath(drive->second);
    if (strReal.empty() || strReal == "/") {
        return false;
    }
    for (const std::string& root : m_vcRealRoots) {
        if (IsBelowOrSame(root, strReal) && root != strReal) {
            return false;
        }
    }
    if (OwnRootOf(strReal) == nullptr) {
        m_map.m_vcOwnRoots.push_back(drive->second);
        m_vcRealRoots.push_back(strReal);
    }
    m_vcFixRoots.push_back(strReal);
    return true;
}

CStatus CFileSystem::CheckFixDelete(const std::wstring& strPath) const {
    CResolvedPath r;
    if (CStatus s = ResolveForDelete(strPath, r); !s.Ok()) {
        return s;
    }
    const std::string strReal = RealPath(r.m_strParent);
    for (const std::string& root : m_vcFixRoots) {
        if (IsBelowOrSame(strReal, root)) {
            return {};
        }
    }
    return Fail(ERROR_ACCESS_DENIED, L"\"" + r.m_strWindows + L"\" lies on a drive outside the target's folder");
}

std::shared_ptr<const CFolderListing> CFileSystem::CachedListing(const std::string& strDir) const {
    std::lock_guard<std::mutex> lock(m_mtx);
    if (m_nScanDepth == 0) {
        return nullptr;
    }
    auto& slot = m_mapListings[strDir];
    if (!slot) {
        slot = ReadListing(strDir);
    }
    return slot;
}

std::shared_ptr<const CFolderListing> CFileSystem::AnyListing(const std::string& strDir) const {
    auto listing = CachedListing(strDir);
    return listing ? listing : ReadListing(strDir);
}

bool CFileSystem::Lookup(const std::string& strDir, const std::wstring& strName, CFolderEntry& entry) const {
    if (auto listing = CachedListing(strDir)) {
        return FindInListing(*listing, strName, entry);
    }
    // Without a cache, try the exact spelling first: one lstat instead of reading the folder.
    const std::string strHost = ToUtf8(strName);
    struct stat st;
    if (lstat(JoinHost(strDir, strHost).c_str(), &st) == 0) {
        struct stat target;
        const bool bFolder = S_ISDIR(st.st_mode) ||
                             (S_ISLNK(st.st_mode) && stat(JoinHost(strDir, strHost).c_str(), &target) == 0 &&
                              S_ISDIR(target.st_mode));
        entry = {strHost, strName, FoldCase(strName), bFolder};
        return true;
    }
    return ScanFolderFor(strDir, strName, entry);
}

CResolvedPath CFileSystem::Resolve(const std::wstring& strPath, bool bWildcardLeaf) const {
    CResolvedPath r;
    const CWinPath& systemRoot = *m_pSystemRoot;
    CWinPath path = ParseWinPath(strPath, systemRoot.m_chDrive, bWildcardLeaf);
    r.m_lCode = path.m_lCode;
    if (r.m_lCode != ERROR_SUCCESS) {
        r.m_strWindows = strPath;
        return r;
    }
    if (m_map.m_bWow64 && t_nRedirectionOff == 0) {
        RedirectWow64(path, systemRoot);
    }
    r.m_strWindows = JoinWinPath(path);
    r.m_bTrailingSeparator = path.m_bTrailingSeparator;
    const auto drive = m_map.m_mapDrives.find(path.m_chDrive);
    if (drive == m_map.m_mapDrives.end()) {
        r.m_lCode = ERROR_PATH_NOT_FOUND;
        return r;
    }
    std::string strHost = drive->second;
    if (path.m_vcParts.empty()) {
        struct stat st;
        r.m_bExists = stat(strHost.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        r.m_bRoot = true;
        r.m_strHost = strHost;
        r.m_entry.m_bFolder = r.m_bExists;
        r.m_lCode = r.m_bExists ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
        return r;
    }
    for (std::size_t i = 0; i + 1 < path.m_vcParts.size(); ++i) {
        CFolderEntry e;
        if (!Lookup(strHost, path.m_vcParts[i], e) || !e.m_bFolder) {
            r.m_lCode = ERROR_PATH_NOT_FOUND;
            return r;
        }
        strHost = JoinHost(strHost, e.m_strHost);
    }
    r.m_strParent = strHost;
    r.m_bParentIsRoot = path.m_vcParts.size() == 1;
    r.m_strLeaf = path.m_vcParts.back();
    if (!HasWildcard(r.m_strLeaf)) {
        r.m_bExists = Lookup(strHost, r.m_strLeaf, r.m_entry);
    }
    r.m_strHost = JoinHost(strHost, r.m_bExists ? r.m_entry.m_strHost : ToUtf8(r.m_strLeaf));
    if (!r.m_bExists && r.m_bParentIsRoot) {
        struct stat st;  // deeper parents were found as folders on the way down
        if (stat(strHost.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            r.m_lCode = ERROR_PATH_NOT_FOUND;
        }
    }
    return r;
}

const std::string* CFileSystem::OwnRootOf(const std::string& strReal) const {
    for (const std::string& root : m_vcRealRoots) {
        if (IsBelowOrSame(strReal, root)) {
            return &root;
        }
    }
    return nullptr;
}

// A write must stay in the target: the folder that holds the element really lies in one of the
// target's own folders (the element itself is never followed, so a link can be removed). With
// pFolder, that folder is also opened from the root without following links, so that whatever is
// done through it stays where it was checked even if someone swaps a folder for a link meanwhile.
CStatus CFileSystem::Confine(const CResolvedPath& r, const wchar_t* pVerb,
                             CConfinedFolder* pFolder) const {
    if (r.m_bRoot) {
        return Fail(ERROR_ACCESS_DENIED, std::wstring(L"Refused to ") + pVerb + L" \"" + r.m_strWindows +
                                             L"\": it is the root of a drive");
    }
    const std::string strReal = RealPath(r.m_strParent);
    if (strReal.empty()) {
        return Fail(ERROR_PATH_NOT_FOUND, L"The folder of \"" + r.m_strWindows + L"\" does not exist");
    }
    const std::string* pRoot = OwnRootOf(strReal);
    if (pRoot == nullptr) {
        std::wstring strRoots;
        for (const std::string& root : m_vcRealRoots) {
            strRoots += (strRoots.empty() ? L"" : L", ") + FromUtf8(root);
        }
        return Fail(ERROR_ACCESS_DENIED, std::wstring(L"Refused to ") + pVerb + L" \"" + r.m_strWindows +
                                             L"\": its folder is " + FromUtf8(strReal) +
                                             L", outside the target's own folders (" + strRoots + L")");
    }
    if (pFolder != nullptr && !pFolder->Open(*pRoot, strReal)) {
        const int e = errno;
        if (e == ELOOP || e == ENOTDIR || e == ENOENT || e == EXDEV) {
            return Fail(ERROR_ACCESS_DENIED, std::wstring(L"Refused to ") + pVerb + L" \"" + r.m_strWindows +
                                                 L"\": its folder changed while it was being checked");
        }
        return FailErrno(L"Opening the folder of", r.m_strWindows, e);
    }
    return {};
}

void CFileSystem::Forget(const std::string& strParent, const std::string& strHost) {
    std::lock_guard<std::mutex> lock(m_mtx);
    if (m_nScanDepth == 0) {
        return;
    }
    m_mapListings.erase(strParent);
    for (auto it = m_mapListings.begin(); it != m_mapListings.end();) {
        it = IsBelowOrSame(it->first, strHost) ? m_mapListings.erase(it) : std::next(it);
    }
}

void CFileSystem::BeginScan() {
    std::lock_guard<std::mutex> lock(m_mtx);
    ++m_nScanDepth;
}

void CFileSystem::EndScan() {
    std::lock_guard<std::mutex> lock(m_mtx);
    if (m_nScanDepth > 0 && --m_nScanDepth == 0) {
        m_mapListings.clear();
    }
}

// ---------------------------------------------------------------------------------------------
// Queries

DWORD CFileSystem::Attributes(const std::string& strHost, const std::wstring& strName,
                              std::uint64_t* pSize, std::int64_t* pLastWrite) const {
    struct stat st;
    if (lstat(strHost.c_str(), &st) != 0) {
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD dw = 0;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        dw = FILE_ATTRIBUTE_REPARSE_POINT;
        if (stat(strHost.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
            dw |= FILE_ATTRIBUTE_DIRECTORY;
        }
    } else {
        dw = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
        if (!(st.st_mode & 0222)) {
            dw |= FILE_ATTRIBUTE_READONLY;
        }
    }
    if (m_map.m_bDotFilesHidden && !strName.empty() && strName[0] == L'.') {
        dw |= FILE_ATTRIBUTE_HIDDEN;
    }
    if (pSize) {
        *pSize = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    }
    if (pLastWrite) {
        *pLastWrite = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    }
    return dw ? dw : FILE_ATTRIBUTE_NORMAL;
}

DWORD CFileSystem::GetFileAttributes(const std::wstring& strPath, LONG* pError) const {
    const CResolvedPath r = Resolve(strPath, false);
    LONG nError = r.m_lCode;
    DWORD dw = INVALID_FILE_ATTRIBUTES;
    if (nError == ERROR_SUCCESS && r.m_bRoot) {
        dw = FILE_ATTRIBUTE_DIRECTORY;
    } else if (nError == ERROR_SUCCESS) {
        dw = r.m_bExists ? Attributes(r.m_strHost, r.m_entry.m_strName, nullptr) : INVALID_FILE_ATTRIBUTES;
        nError = dw == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    }
    if (pError) {
        *pError = nError;
    }
    return dw;
}

CStatus CFileSystem::FindFiles(const std::wstring& strPattern,
                               std::vector<CFindData>& vcOut) const {
    vcOut.clear();
    const CResolvedPath r = Resolve(strPattern, true);
    if (r.m_lCode != ERROR_SUCCESS) {
        return Fail(r.m_lCode, L"The folder of \"" + r.m_strWindows + L"\" does not exist");
    }
    if (r.m_bRoot || r.m_bTrailingSeparator) {
        return Fail(ERROR_FILE_NOT_FOUND, L"\"" + strPattern + L"\" names no file");
    }
    if (!HasWildcard(r.m_strLeaf)) {
        CFindData fd{r.m_bExists ? r.m_entry.m_strName : L"", 0, 0};
        fd.m_dwAttributes = r.m_bExists ? Attributes(r.m_strHost, fd.m_strName, &fd.m_nSize, &fd.m_nLastWriteTime) : INVALID_FILE_ATTRIBUTES;
        if (fd.m_dwAttributes == INVALID_FILE_ATTRIBUTES) {
            return Fail(ERROR_FILE_NOT_FOUND, L"\"" + r.m_strWindows + L"\" does not exist");
        }
        vcOut.push_back(std::move(fd));
        return {};
    }
    const auto listing = AnyListing(r.m_strParent);
    if (!listing->m_bOpened) {
        return Fail(ERROR_ACCESS_DENIED, L"The folder of \"" + r.m_strWindows + L"\" cannot be listed");
    }
    const std::wstring pattern = FoldCase(r.m_strLeaf);
    for (const wchar_t* pDot : {L".", L".."}) {
        if (!r.m_bParentIsRoot && MatchPattern(pattern, pDot)) {
            vcOut.push_back(DotEntry(pDot));
        }
    }
    for (const CFolderEntry& e : listing->m_vcEntries) {
        if (MatchPattern(pattern, e.m_strFolded)) {
            CFindData fd{e.m_strName, 0, 0};
            fd.m_dwAttributes = Attributes(JoinHost(r.m_strParent, e.m_strHost), e.m_strName, &fd.m_nSize,
                                           &fd.m_nLastWriteTime);
            if (fd.m_dwAttributes != INVALID_FILE_ATTRIBUTES) {  // gone since the listing was read
                vcOut.push_back(std::move(fd));
            }
        }
    }
    if (vcOut.empty()) {
        return Fail(ERROR_FILE_NOT_FOUND, L"Nothing matches \"" + r.m_strWindows + L"\"");
    }
    return {};
}

bool CFileSystem::Exists(const std::wstring& strPath) const {
    const CResolvedPath r = Resolve(strPath, true);
    if (r.m_lCode != ERROR_SUCCESS || r.m_bRoot || r.m_bTrailingSeparator) {
        return false;
    }
    if (!HasWildcard(r.m_strLeaf)) {
        return r.m_bExists;
    }
    const std::wstring pattern = FoldCase(r.m_strLeaf);
    if (!r.m_bParentIsRoot && MatchPattern(pattern, L".")) {
        return true;
    }
    const auto listing = AnyListing(r.m_strParent);
    return std::any_of(listing->m_vcEntries.begin(), listing->m_vcEntries.end(),
                       [&](const CFolderEntry& e) { return MatchPattern(pattern, e.m_strFolded); });
}

CStatus CFileSystem::ReadFile(const std::wstring& strPath, std::string& strOut) const {
    strOut.clear();
    const CResolvedPath r = Resolve(strPath, false);
    if (r.m_lCode != ERROR_SUCCESS || !r.m_bExists) {
        return Fail(r.m_lCode ? r.m_lCode : ERROR_FILE_NOT_FOUND,
                    L"\"" + r.m_strWindows + L"\" does not exist");
    }
    if (r.m_entry.m_bFolder) {
        return Fail(ERROR_ACCESS_DENIED, L"\"" + r.m_strWindows + L"\" is a folder");
    }
    if (IsLink(r.m_strHost) && OwnRootOf(RealPath(r.m_strHost)) == nullptr) {
        // Reading it would let a planted link copy a file from elsewhere into the target.
        return Fail(ERROR_ACCESS_DENIED, L"Refused to read \"" + r.m_strWindows +
                                             L"\": it is a symbolic link that leads outside the target's own folders");
    }
    const int fd = open(r.m_strHost.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FailErrno(L"Reading", r.m_strWindows, errno);
    }
    char buf[65536];
    ssize_t n = 0;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
        strOut.append(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    }
    const int e = errno;
    close(fd);
    return n < 0 ? FailErrno(L"Reading", r.m_strWindows, e) : CStatus{};
}

CStatus CFileSystem::CheckDelete(const std::wstring& strPath, std::wstring* pstrFull) const {
    CResolvedPath r;
    CStatus s = ResolveForDelete(strPath, r);
    if (s.Ok() && pstrFull) {
        *pstrFull = r.m_strWindows;
    }
    return s;
}

CStatus CFileSystem::HostPath(const std::wstring& strPath, std::string& strHost) const {
    const CResolvedPath r = Resolve(strPath, false);
    if (r.m_lCode != ERROR_SUCCESS) {
        return Fail(r.m_lCode, L"The folder of \"" + r.m_strWindows + L"\" does not exist");
    }
    strHost = r.m_strHost;
    return {};
}

// ---------------------------------------------------------------------------------------------
// Writes

CStatus CFileSystem::ResolveForDelete(const std::wstring& strPath, CResolvedPath& r,
                                      CConfinedFolder* pFolder) const {
    r = Resolve(strPath, false);
    if (r.m_lCode != ERROR_SUCCESS) {
        return Fail(r.m_lCode, L"The folder of \"" + r.m_strWindows + L"\" does not exist");
    }
    if (!r.m_bExists && !r.m_bRoot) {
        return Fail(ERROR_FILE_NOT_FOUND, L"\"" + r.m_strWindows + L"\" does not exist");
    }
    return Confine(r, L"delete", pFolder);
}

CStatus CFileSystem::DeleteFile(const std::wstring& strPath) {
    CResolvedPath r;
    CConfinedFolder folder;
    if (CStatus s = ResolveForDelete(strPath, r, &folder); !s.Ok()) {
        return s;
    }
    const std::string leaf = LeafOf(r.m_strHost);
    struct stat st;
    if (fstatat(folder.Fd(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return FailErrno(L"Deleting", r.m_strWindows, errno);
    }
    if (r.m_entry.m_bFolder || S_ISDIR(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED, L"\"" + r.m_strWindows + L"\" is a folder, not a file");
    }
    if (S_ISREG(st.st_mode) && !(st.st_mode & 0222)) {
        return Fail(ERROR_ACCESS_DENIED, L"\"" + r.m_strWindows + L"\" is read-only");
    }
    if (unlinkat(folder.Fd(), leaf.c_str(), 0) != 0) {
        return FailErrno(L"Deleting", r.m_strWindows, errno);
    }
    Forget(r.m_strParent, r.m_strHost);
    return {};
}

CStatus CFileSystem::RemoveDirectory(const std::wstring& strPath) {
    CResolvedPath r;
    CConfinedFolder folder;
    if (CStatus s = ResolveForDelete(strPath, r, &folder); !s.Ok()) {
        return s;
    }
    if (!r.m_entry.m_bFolder) {
        return Fail(ERROR_DIRECTORY, L"\"" + r.m_strWindows + L"\" is not a folder");
    }
    const std::string leaf = LeafOf(r.m_strHost);
    struct stat st;
    const bool bLink = fstatat(folder.Fd(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    if (unlinkat(folder.Fd(), leaf.c_str(), bLink ? 0 : AT_REMOVEDIR) != 0) {
        const int e = errno == EEXIST ? ENOTEMPTY : errno;
        return FailErrno(L"Removing", r.m_strWindows, e);
    }
    Forget(r.m_strParent, r.m_strHost);
    return {};
}

CStatus CFileSystem::CreateDirectory(const std::wstring& strPath) {
    const CResolvedPath r = Resolve(strPath, false);
    if (r.m_lCode != ERROR_SUCCESS) {
        return Fail(r.m_lCode, L"The folder of \"" + r.m_strWindows + L"\" does not exist");
    }
    if (r.m_bExists) {
        return Fail(ERROR_ALREADY_EXISTS, L"\"" + r.m_strWindows + L"\" already exists");
    }
    CConfinedFolder folder;
    if (CStatus s = Confine(r, L"create", &folder); !s.Ok()) {
        return s;
    }
    if (mkdirat(folder.Fd(), LeafOf(r.m_strHost).c_str(), 0777) != 0) {
        return FailErrno(L"Creating", r.m_strWindows, errno);
    }
    Forget(r.m_strParent, r.m_strHost);
    return {};
}

CStatus CFileSystem::CreateFolders(const std::wstring& strPath) {
    // Below the drive's root: "C:\\a\\b" starts at 3, "\\a\\b" (the current drive) at 1.
    std::size_t nFrom = strPath.size() > 2 && strPath[1] == L':' ? 3 : 1;
    while (nFrom <= strPath.size()) {
        const std::size_t nEnd = std::min(strPath.find(L'\\', nFrom), strPath.size());
        const std::wstring strLevel = strPath.substr(0, nEnd);
        if (nEnd > nFrom && GetFileAttributes(strLevel) == INVALID_FILE_ATTRIBUTES) {
            if (CStatus s = CreateDirectory(strLevel); !s.Ok()) {
                return s;
            }
        }
        nFrom = nEnd + 1;
    }
    return {};
}

CStatus CFileSystem::MoveFile(const std::wstring& strFrom, const std::wstring& strTo,
                              bool bReplace) {
    const CResolvedPath from = Resolve(strFrom, false);
    const CResolvedPath to = Resolve(strTo, false);
    for (const CResolvedPath* r : {&from, &to}) {
        if (r->m_lCode != ERROR_SUCCESS) {
            return Fail(r->m_lCode, L"The folder of \"" + r->m_strWindows + L"\" does not exist");
        }
    }
    if (!from.m_bExists && !from.m_bRoot) {
        return Fail(ERROR_FILE_NOT_FOUND, L"\"" + from.m_strWindows + L"\" does not exist");
    }
    CConfinedFolder fromFolder;
    CConfinedFolder toFolder;
    if (CStatus s = Confine(from, L"move", &fromFolder); !s.Ok()) {
        return s;
    }
    if (CStatus s = Confine(to, L"move", &toFolder); !s.Ok()) {
        return s;
    }
    std::string strDest = to.m_strHost;
    const bool bSameEntry = to.m_bExists && to.m_strHost == from.m_strHost;
    if (bSameEntry) {
        strDest = JoinHost(to.m_strParent, ToUtf8(to.m_strLeaf));  // a change of case only
    } else if (to.m_bExists && !bReplace) {
        return Fail(ERROR_ALREADY_EXISTS, L"\"" + to.m_strWindows + L"\" already exists");
    } else if (to.m_bExists && (to.m_entry.m_bFolder || from.m_entry.m_bFolder || IsReadOnlyFile(to.m_strHost))) {
        return Fail(ERROR_ACCESS_DENIED, L"\"" + to.m_strWindows + L"\" cannot be replaced");
    }
    const std::string fromLeaf = LeafOf(from.m_strHost);
    const std::string toLeaf = LeafOf(strDest);
    const unsigned flags = (to.m_bExists && !bSameEntry) ? 0 : RENAME_NOREPLACE;
    int rc = renameat2(fromFolder.Fd(), fromLeaf.c_str(), toFolder.Fd(), toLeaf.c_str(), flags);
    if (rc != 0 && errno == EINVAL && flags != 0) {
        // a file system without NOREPLACE
        rc = renameat(fromFolder.Fd(), fromLeaf.c_str(), toFolder.Fd(), toLeaf.c_str());
    }
    if (rc != 0) {
        return FailErrno(L"Moving", from.m_strWindows, errno);
    }
    Forget(from.m_strParent, from.m_strHost);
    Forget(to.m_strParent, strDest);
    return {};
}

CStatus CFileSystem::WriteFile(const std::wstring& strPath, const std::string& strData) {
    const CResolvedPath r = Resolve(strPath, false);
    if (r.m_lCode != ERROR_SUCCESS) {
        return Fail(r.m_lCode, L"The folder of \"" + r.m_strWindows + L"\" does not exist");
    }
    if (CStatus s = Confine(r, L"write"); !s.Ok()) {
        return s;
    }
    if (r.m_bExists && IsLink(r.m_strHost)) {
        return Fail(ERROR_ACCESS_DENIED, L"Refused to write \"" + r.m_strWindows +
                                             L"\": it is a symbolic link, and files are never written through one");
    }
    if (r.m_bExists && (r.m_entry.m_bFolder || IsReadOnlyFile(r.m_strHost))) {
        return Fail(ERROR_ACCESS_DENIED, L"\"" + r.m_strWindows + L"\" cannot be written");
    }
    const std::string* pRoot = OwnRootOf(RealPath(r.m_strParent));
    std::string strWhy;
    if (pRoot == nullptr || !SaveFileAtomically(r.m_strHost, strData, strWhy, *pRoot)) {
        return Fail(ERROR_WRITE_FAULT, L"Writing \"" + r.m_strWindows + L"\" failed: " + FromUtf8(strWhy));
    }
    Forget(r.m_strParent, r.m_strHost);
    return {};
}

CWow64RedirectionOff::CWow64RedirectionOff() { ++t_nRedirectionOff; }
CWow64RedirectionOff::~CWow64RedirectionOff() { --t_nRedirectionOff; }

}  // namespace Branwick::Platform
