#include "platform/module/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

std::string WithSlash(const std::filesystem::path& folder) {
    std::string s = folder.string();
    if (!s.empty() && s.back() != '/') {
        s += '/';
    }
    return s;
}

bool IsWritableFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) && access(folder.c_str(), W_OK | X_OK) == 0;
}

// Creates the folder (and its parents) and reports whether this process may write in it.
bool MakeWritableFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return IsWritableFolder(folder);
}

// The link map of the module this code is linked into; null when the loader does not know it.
link_map* OwnLinkMap() {
    Dl_info info{};
    link_map* pMap = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&OwnLinkMap), &info, reinterpret_cast<void**>(&pMap),
                RTLD_DL_LINKMAP) == 0) {
        return nullptr;
    }
    return pMap;
}

// The folders the loader searches for a library this module asks for, in the loader's order
// (LD_LIBRARY_PATH, the module's RUNPATH with $ORIGIN expanded, the system's folders).
std::vector<std::string> LibrarySearchPath() {
    link_map* pMap = OwnLinkMap();
    Dl_serinfo size{};
    // glibc's handles are link maps, so the module's own map asks for its own search path.
    if (pMap == nullptr || dlinfo(pMap, RTLD_DI_SERINFOSIZE, &size) != 0) {
        return {};
    }
    std::vector<Dl_serinfo> buffer(size.dls_size / sizeof(Dl_serinfo) + 1);
    Dl_serinfo* pInfo = buffer.data();
    pInfo->dls_size = size.dls_size;
    pInfo->dls_cnt = size.dls_cnt;
    if (dlinfo(pMap, RTLD_DI_SERINFO, pInfo) != 0) {
        return {};
    }
    std::vector<std::string> folders;
    for (unsigned int i = 0; i < pInfo->dls_cnt; ++i) {
        folders.emplace_back(pInfo->dls_serpath[i].dls_name);
    }
    return folders;
}

}  // namespace

std::string GetModuleFolder() {
    link_map* pMap = OwnLinkMap();
    if (pMap == nullptr) {
        return {};
    }
    std::error_code ec;
    std::filesystem::path file;
    if (pMap->l_name != nullptr && pMap->l_name[0] != '\0') {
        file = std::filesystem::weakly_canonical(pMap->l_name, ec);
    } else {
        // The main program has no name in its link map; the kernel knows its file.
        file = std::filesystem::read_symlink("/proc/self/exe", ec);
    }
    if (ec || file.empty()) {
        return {};
    }
    return WithSlash(file.parent_path());
}

std::string GetDataFolder() {
    if (const char* pszDir = std::getenv("CORVANE_DATA_DIR"); pszDir != nullptr && *pszDir != '\0') {
        return WithSlash(pszDir);
    }
    const std::string module = GetModuleFolder();
    return module.empty() ? std::string() : DataFolderOf(module);
}

std::string DataFolderOf(const std::string& strModuleFolder) {
    // "X/bin/" has the parent path "X/bin"; its parent is the prefix.
    return WithSlash(std::filesystem::path(strModuleFolder).parent_path().parent_path() / "share/corvane");
}

std::string GetLogsFolder() {
    if (const char* pszDir = std::getenv("CORVANE_LOG_DIR"); pszDir != nullptr && *pszDir != '\0') {
        return MakeWritableFolder(pszDir) ? WithSlash(pszDir) : std::string();
    }
    return LogsFolderOf(GetModuleFolder());
}

std::string LogsFolderOf(const std::string& strModuleFolder) {
    if (!strModuleFolder.empty() && IsWritableFolder(strModuleFolder + "Logs")) {
        return strModuleFolder + "Logs/";
    }
    std::filesystem::path state;
    if (const char* pszState = std::getenv("XDG_STATE_HOME");
        pszState != nullptr && *pszState == '/') {
        state = pszState;
    } else if (const char* pszHome = std::getenv("HOME"); pszHome != nullptr && *pszHome == '/') {
        state = std::filesystem::path(pszHome) / ".local/state";
    } else {
        return {};
    }
    const std::filesystem::path logs = state / "corvane/Logs";
    return MakeWritableFolder(logs) ? WithSlash(logs) : std::string();
}

CLibrary::CLibrary(CLibrary&& other) noexcept
    : m_pHandle(std::exchange(other.m_pHandle, nullptr)), m_strPath(std::move(other.m_strPath)) {}

CLibrary& CLibrary::operator=(CLibrary&& other) noexcept {
    if (this != &other) {
        if (m_pHandle != nullptr) {
            dlclose(m_pHandle);
        }
        m_pHandle = std::exchange(other.m_pHandle, nullptr);
        m_strPath = std::move(other.m_strPath);
    }
    return *this;
}

CLibrary::~CLibrary() {
    if (m_pHandle != nullptr) {
        dlclose(m_pHandle);  // RTLD_NODELETE: the code stays mapped
    }
}

bool CLibrary::Load(const std::string& strFileName, std::wstring& strError) {
    const std::vector<std::string> folders = LibrarySearchPath();
    std::string strPath;
    for (const std::string& folder : folders) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(WithSlash(folder) + strFileName, ec)) {
            strPath = WithSlash(folder) + strFileName;
            break;
        }
    }
    if (strPath.empty()) {
        std::string strFolders;
        for (const std::string& folder : folders) {
            strFolders += (strFolders.empty() ? "" : ", ") + folder;
        }
        strError = L"The library " + FromUtf8(strFileName) + L" cannot be loaded: it is in none of the folders searched (" +
                   FromUtf8(strFolders.empty() ? "none" : strFolders) + L").";
        return false;
    }
    void* pHandle = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (pHandle == nullptr) {
        const char* pszReason = dlerror();
        strError = L"The library " + FromUtf8(strPath) + L" cannot be loaded: " +
                   FromUtf8(pszReason != nullptr ? pszReason : "unknown reason") + L".";
        return false;
    }
    if (m_pHandle != nullptr) {
        dlclose(m_pHandle);
    }
    m_pHandle = pHandle;
    m_strPath = strPath;
    return true;
}

void* CLibrary::GetSymbol(const char* pszName, std::wstring& strError) const {
    if (m_pHandle == nullptr) {
        strError = L"No library is loaded, so " + FromUtf8(pszName) + L" cannot be found.";
        return nullptr;
    }
    dlerror();
    void* pSymbol = dlsym(m_pHandle, pszName);
    if (pSymbol == nullptr) {
        strError = L"The library " + FromUtf8(m_strPath) + L" has no entry point " + FromUtf8(pszName) +
                   L".";
    }
    return pSymbol;
}

}  // namespace Branwick::Platform
