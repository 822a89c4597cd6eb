#include "platform/recyclebin/recyclebin.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/atomic/atomic_file.h"
#include "platform/desktop/desktop.h"
#include "platform/target/target.h"
#include "platform/text/text.h"

namespace Branwick::Platform {

namespace fs = std::filesystem;

namespace {

const char kTrashInfo[] = ".trashinfo";

// Keeps the first failure of a run of removals.
struct CFirstFailure {
    HRESULT m_hr = S_OK;
    void Note(const std::error_code& ec) {
        if (ec && m_hr == S_OK) {
            const bool bDenied = ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
                                 ec == std::errc::read_only_file_system;
            m_hr = bDenied ? HresultFromWin32(ERROR_ACCESS_DENIED) : E_FAIL;
        }
    }
};

// Calls fn for each entry of the folder. Errors are noted, never thrown: a bin that cannot be
// read is left as it is.
template <class TFn>
void ForEachEntry(const fs::path& folder, CFirstFailure& failure, TFn fn) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        fn(*it);
    }
    failure.Note(ec);
}

bool IsRealFolder(const fs::path& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Where a path that may no longer exist really is: its nearest existing folder with links
// resolved, then the rest of it. A trashed file's old name is not itself followed, since another
// file or link may have taken it since.
std::string RealLocation(const std::string& strPath) {
    const fs::path path = fs::path(strPath).lexically_normal();
    fs::path rest = path.filename();
    for (fs::path folder = path.parent_path();; folder = folder.parent_path()) {
        const std::string strReal = RealPath(folder.string());
        if (!strReal.empty()) {
            return (fs::path(strReal) / rest).lexically_normal().string();
        }
        if (folder == folder.parent_path()) {
            return {};
        }
        rest = folder.filename() / rest;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The trash escapes names as URLs do.
std::string PercentDecode(const std::string& str) {
    std::string out;
    for (std::size_t i = 0; i < str.size(); ++i) {
        const int hi = str[i] == '%' && i + 2 < str.size() ? HexDigit(str[i + 1]) : -1;
        const int lo = hi >= 0 ? HexDigit(str[i + 2]) : -1;
        if (lo >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += str[i];
        }
    }
    return out;
}

// The Path= of the [Trash Info] group, decoded; empty when the file has none.
std::string OriginalPath(const fs::path& infoFile) {
    std::ifstream in(infoFile);
    bool bInGroup = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line[0] == '[') {
            bInGroup = line == "[Trash Info]";
        } else if (bInGroup && line.compare(0, 5, "Path=") == 0) {
            return PercentDecode(line.substr(5));
        }
    }
    return {};
}

bool IsOwnLocation(const std::string& strPath, const std::vector<std::string>& vcRealRoots) {
    if (strPath.empty() || strPath[0] != '/') {
        return false;  // the home trash records absolute paths; anything else is not ours to judge
    }
    const std::string strReal = RealLocation(strPath);
    for (const std::string& root : vcRealRoots) {
        if (!strReal.empty() && IsBelowOrSame(strReal, root)) {
            return true;
        }
    }
    return false;
}

// Drops the cache lines of the removed folders, so that the trash's size is not misreported.
void ForgetDirectorySizes(const fs::path& trash, const std::set<std::string>& removed, CFirstFailure& failure) {
    const fs::path file = trash / "directorysizes";
    std::ifstream in(file);
    if (!in || removed.empty()) {
        return;
    }
    std::string strKept;
    bool bChanged = false;
    for (std::string line; std::getline(in, line);) {
        const std::size_t name = line.find(' ', line.find(' ') + 1);
        if (name != std::string::npos && removed.count(PercentDecode(line.substr(name + 1)))) {
            bChanged = true;
        } else {
            strKept += line + '\n';
        }
    }
    std::string strWhy;
    if (bChanged && !SaveFileAtomically(file.string(), strKept, strWhy)) {
        failure.Note(std::make_error_code(std::errc::io_error));
    }
}

// Removes everything in a user's bin but its desktop.ini.
void EmptyBinFolder(const fs::path& bin, CFirstFailure& failure) {
    ForEachEntry(bin, failure, [&](const fs::directory_entry& entry) {
        if (!EqualNoCase(FromUtf8(entry.path().filename().string()), L"desktop.ini")) {
            std::error_code ec;
            fs::remove_all(entry.path(), ec);
            failure.Note(ec);
        }
    });
}

}  // namespace

HRESULT EmptyDesktopTrash(const std::string& strTrash, const std::vector<std::string>& vcOwnFolders) {
    std::vector<std::string> vcRealRoots;
    for (const std::string& folder : vcOwnFolders) {
        if (std::string strReal = RealPath(folder); !strReal.empty()) {
            vcRealRoots.push_back(std::move(strReal));
        }
    }
    const fs::path trash(strTrash);
    if (!IsRealFolder(trash / "info") || !IsRealFolder(trash / "files")) {
        return S_OK;  // no trash yet: nothing was ever trashed
    }
    CFirstFailure failure;
    std::set<std::string> removed;
    ForEachEntry(trash / "info", failure, [&](const fs::directory_entry& entry) {
        const std::string strInfo = entry.path().filename().string();
        const std::string strName = strInfo.ends_with(kTrashInfo)
                                        ? strInfo.substr(0, strInfo.size() - (sizeof kTrashInfo - 1))
                                        : std::string();
        // "..trashinfo" would name the files folder itself, "...trashinfo" the whole trash.
        if (strName.empty() || strName == "." || strName == ".." ||
            !IsOwnLocation(OriginalPath(entry.path()), vcRealRoots)) {
            return;
        }
        std::error_code ec;
        fs::remove_all(trash / "files" / strName, ec);
        if (!ec) {
            fs::remove(entry.path(), ec);  // last, so that a half-removed entry stays listed
            removed.insert(strName);
        }
        failure.Note(ec);
    });
    ForgetDirectorySizes(trash, removed, failure);
    return failure.m_hr;
}

HRESULT EmptyVolumeRecycleBins(const std::string& strVolume) {
    CFirstFailure failure;
    ForEachEntry(strVolume, failure, [&](const fs::directory_entry& entry) {
        const std::wstring strName = FromUtf8(entry.path().filename().string());
        if ((EqualNoCase(strName, L"$Recycle.Bin") || EqualNoCase(strName, L"RECYCLER")) &&
            IsRealFolder(entry.path())) {
            ForEachEntry(entry.path(), failure, [&](const fs::directory_entry& bin) {
                if (IsRealFolder(bin.path())) {
                    EmptyBinFolder(bin.path(), failure);
                }
            });
        }
    });
    return failure.m_hr;
}

HRESULT EmptyRecycleBin(const CTarget& target) {
    if (target.Kind() == ETargetKind::OfflineVolume) {
        return EmptyVolumeRecycleBins(target.Folder());
    }
    return EmptyDesktopTrash(DataHome() + "/Trash", target.Files().DriveMap().m_vcOwnRoots);
}

}  // namespace Branwick::Platform
