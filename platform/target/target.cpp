#include "platform/target/target.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "platform/target/offline_registry.h"
#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

// Wine's one user, whatever the Linux user is called.
const wchar_t kWineUserSid[] = L"S-1-5-21-0-0-0-1000";
const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

// Where Wine's packages put the fonts Wine ships (Debian's, WineHQ's builds, a local build).
const char* const kWineFontFolders[] = {
    "/usr/share/wine/fonts",          "/usr/local/share/wine/fonts",    "/opt/wine-stable/share/wine/fonts",
    "/opt/wine-devel/share/wine/fonts", "/opt/wine-staging/share/wine/fonts",
};

std::string DefaultPrefix() {
    if (const char* p = std::getenv("WINEPREFIX"); p && *p) {
        return p;
    }
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "";
    }
    return std::string(home) + "/.wine";
}

std::string WithoutTrailingSlash(std::string str) {
    while (str.size() > 1 && str.back() == '/') {
        str.pop_back();
    }
    return str;
}

bool IsFile(const std::string& strHost) {
    struct stat st;
    return stat(strHost.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Wine hides names that start with '.' unless HKCU\Software\Wine says ShowDotFiles=Y (or y, T, t, 1).
bool ShowsDotFiles(const CRegistry& reg) {
    CRegKey key;
    DWORD dwType = REG_NONE;
    CRegBytes data;
    if (reg.OpenKey(HKEY_CURRENT_USER, L"Software\\Wine", KEY_READ, &key) != ERROR_SUCCESS ||
        key.QueryValue(L"ShowDotFiles", &dwType, &data) != ERROR_SUCCESS || dwType != REG_SZ) {
        return false;
    }
    const std::wstring strText = FromUtf16Le(data.data(), data.size());
    return !strText.empty() && std::wstring(L"YyTt1").find(strText[0]) != std::wstring::npos;
}

CDriveMap VolumeDriveMap(const std::string& strFolder) {
    CDriveMap map;
    map.m_mapDrives[L'C'] = strFolder;
    map.m_vcOwnRoots.push_back(strFolder);
    return map;
}

// Windows/System32/config in any case, as a mounted NTFS volume may spell it; Windows NT and 2000
// named the folder WINNT.
bool IsWindowsVolume(const std::string& strFolder) {
    const CFileSystem files(VolumeDriveMap(strFolder));
    for (const wchar_t* pszConfig : {L"C:\\Windows\\System32\\config", L"C:\\WINNT\\System32\\config"}) {
        const DWORD dw = files.GetFileAttributes(pszConfig);
        if (dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY)) {
            return true;
        }
    }
    return false;
}

// PendingFileRenameOperations is a list of pairs (source, target), each string ended by a NUL, the
// list by one more; an empty target means delete. Pairs are read as Wine reads them, so an earlier
// entry whose target is empty is not taken for the end of the list.
CRegBytes AppendPendingDelete(const CRegBytes& vcOld, const std::wstring& strSource) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < vcOld.size(); i += 2) {
        units += static_cast<char16_t>(vcOld[i] | (vcOld[i + 1] << 8));
    }
    std::u16string kept;
    std::size_t pos = 0;
    while (pos < units.size() && units[pos] != 0) {
        for (int nString = 0; nString < 2; ++nString) {
            const std::size_t end = std::min(units.find(u'\0', pos), units.size());
            kept.append(units, pos, end - pos);
            kept += u'\0';
            pos = end + 1;
        }
    }
    CRegBytes vcNew;
    for (char16_t u : kept) {
        vcNew.push_back(static_cast<std::uint8_t>(u & 0xFF));
        vcNew.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    const CRegBytes vcSource = ToUtf16Le(strSource, true);
    vcNew.insert(vcNew.end(), vcSource.begin(), vcSource.end());
    vcNew.insert(vcNew.end(), {0, 0, 0, 0});  // the empty target and the end of the list
    return vcNew;
}

}  // namespace

CTarget::CTarget(ETargetKind eKind, std::string strFolder, CRegistry reg, const CEnvironmentUser& user,
                 CDriveMap map)
    : m_eKind(eKind), m_strFolder(std::move(strFolder)), m_reg(std::move(reg)), m_env(BuildEnvironment(m_reg, user)),
      m_strSid(user.m_strSid) {
    map.m_strSystemRoot = m_env.Get(L"SystemRoot");
    map.m_bWow64 = m_reg.Is64Bit();
    m_pFiles = std::make_unique<CFileSystem>(std::move(map));
}

std::unique_ptr<CTarget> CTarget::OpenWinePrefix(const std::string& strFolder, std::wstring& strError) {
    const std::string strPrefix = WithoutTrailingSlash(strFolder.empty() ? DefaultPrefix() : strFolder);
    if (!IsFile(strPrefix + "/system.reg")) {
        strError = L"\"" + FromUtf8(strPrefix) + L"\" is not a Wine prefix: it has no system.reg";
        return nullptr;
    }
    CRegistry reg;
    const CStatus s = CRegistry::OpenWinePrefix(strPrefix, {}, &reg);
    if (!s.Ok()) {
        strError = s.m_strText;
        return nullptr;
    }
    CDriveMap map = WineDriveMap(strPrefix);
    map.m_bDotFilesHidden = !ShowsDotFiles(reg);
    std::vector<std::wstring> vcFonts =
        WindowsPathsOf(map, std::vector<std::string>(std::begin(kWineFontFolders), std::end(kWineFontFolders)));
    std::unique_ptr<CTarget> pTarget(
        new CTarget(ETargetKind::WinePrefix, strPrefix, std::move(reg), {kWineUserSid, L""}, std::move(map)));
    pTarget->m_vcWineFontFolders = std::move(vcFonts);
    return pTarget;
}

std::unique_ptr<CTarget> CTarget::OpenOfflineVolume(const std::string& strFolder, const std::wstring& strUser,
                                                    std::wstring& strError) {
    const std::string strVolume = WithoutTrailingSlash(strFolder);
    if (!IsWindowsVolume(strVolume)) {
        strError = L"\"" + FromUtf8(strVolume) + L"\" is not a Windows volume: it has no Windows\\System32\\config";
        return nullptr;
    }
    if (strUser.empty()) {
        strError = L"An offline Windows volume needs the name of the user whose profile is maintained";
        return nullptr;
    }
    CRegistry reg;
    const CStatus s = OpenOfflineRegistry(strVolume, strUser, &reg);
    if (!s.Ok()) {
        strError = s.m_strText;
        return nullptr;
    }
    CDriveMap map = VolumeDriveMap(strVolume);
    map.m_bDotFilesHidden = false;  // Windows keeps hidden as an attribute, not in the name
    return std::unique_ptr<CTarget>(
        new CTarget(ETargetKind::OfflineVolume, strVolume, std::move(reg), {L"", strUser}, std::move(map)));
}

std::unique_ptr<CTarget> CTarget::Open(const std::string& strFolder, const std::wstring& strUser,
                                       std::wstring& strError) {
    const std::string strPath = WithoutTrailingSlash(strFolder);
    if (IsFile(strPath + "/system.reg")) {
        return OpenWinePrefix(strPath, strError);
    }
    if (IsWindowsVolume(strPath)) {
        return OpenOfflineVolume(strPath, strUser, strError);
    }
    strError = L"\"" + FromUtf8(strPath) +
               L"\" is neither a Wine prefix (it has no system.reg) nor a Windows volume (it has no "
               L"Windows\\System32\\config or WINNT\\System32\\config)";
    return nullptr;
}

std::unique_ptr<CTarget> CTarget::OpenTest(const std::string& strFolder, CRegistry reg) {
    const std::string strPath = WithoutTrailingSlash(strFolder);
    return std::unique_ptr<CTarget>(
        new CTarget(ETargetKind::Test, strPath, std::move(reg), {kWineUserSid, L""}, VolumeDriveMap(strPath)));
}

std::wstring CTarget::DataFolder() const {
    std::wstring strBase;
    if (!m_env.Get(L"AllUsersProfile", strBase) && !m_env.Get(L"PROGRAMDATA", strBase)) {
        return m_eKind == ETargetKind::OfflineVolume ? kVolumeDataFolder : std::wstring();
    }
    return strBase + L"\\Application Data\\Corvane\\";
}

std::wstring CTarget::DataFolderNote() const {
    if (DataFolder() != kVolumeDataFolder) {
        return {};
    }
    return std::wstring(L"The volume names no folder for all users' data (ProgramData), so Corvane keeps its "
                        L"settings and backups in ") + kVolumeDataFolder + L" at the volume's root.";
}

CStatus CTarget::CreateDataFolder(std::string* pstrHost) const {
    const std::wstring strFolder = DataFolder();
    if (strFolder.empty()) {
        return {ERROR_PATH_NOT_FOUND, L"The target has neither ALLUSERSPROFILE nor PROGRAMDATA"};
    }
    if (CStatus s = m_pFiles->CreateFolders(strFolder); !s.Ok()) {
        return s;
    }
    std::string strHost;
    CStatus s = m_pFiles->HostPath(strFolder, strHost);
    if (s.Ok() && pstrHost) {
        *pstrHost = strHost;
    }
    return s;
}

CStatus CTarget::DeleteFileAtRestart(const std::wstring& strPath) const {
    std::wstring strFull;
    if (CStatus s = m_pFiles->CheckDelete(strPath, &strFull); !s.Ok()) {
        return s;
    }
    CRegKey key;
    CRegBytes vcData;
    DWORD dwType = REG_NONE;
    LONG rc = m_reg.CreateKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key);
    if (rc == ERROR_SUCCESS) {
        rc = key.QueryValue(L"PendingFileRenameOperations", &dwType, &vcData);
        rc = rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    }
    if (rc == ERROR_SUCCESS) {
        rc = key.SetValue(L"PendingFileRenameOperations", REG_MULTI_SZ, AppendPendingDelete(vcData, L"\\??\\" + strFull));
    }
    if (rc != ERROR_SUCCESS) {
        return {rc, L"Scheduling \"" + strFull + L"\" for deletion at the next start failed (error " +
                        std::to_wstring(rc) + L")"};
    }
    return {};
}

std::vector<std::wstring> WindowsPathsOf(const CDriveMap& map, const std::vector<std::string>& vcHostFolders) {
    namespace fs = std::filesystem;
    std::vector<std::wstring> vcOut;
    for (const std::string& strHost : vcHostFolders) {
        std::error_code ec;
        const fs::path real = fs::canonical(strHost, ec);
        if (ec || !fs::is_directory(real, ec)) {
            continue;
        }
        std::wstring strBest;
        std::size_t nBestDepth = 0;
        for (const auto& [cLetter, strDrive] : map.m_mapDrives) {
            const fs::path drive = fs::canonical(strDrive, ec);
            if (ec) {
                continue;
            }
            const fs::path rest = real.lexically_relative(drive);
            const std::size_t nDepth = std::distance(drive.begin(), drive.end());
            if (!rest.empty() && *rest.begin() != ".." && (strBest.empty() || nDepth > nBestDepth)) {
                std::wstring strRest = rest == "." ? L"" : FromUtf8(rest.string());
                std::replace(strRest.begin(), strRest.end(), L'/', L'\\');
                strBest = std::wstring(1, cLetter) + L":\\" + strRest;
                nBestDepth = nDepth;
            }
        }
        if (!strBest.empty()) {
            vcOut.push_back(strBest);
        }
    }
    return vcOut;
}

std::vector<std::wstring> CTarget::FontFolders() const {
    std::vector<std::wstring> vcOut{m_env.Get(L"SystemRoot") + L"\\Fonts"};
    vcOut.insert(vcOut.end(), m_vcWineFontFolders.begin(), m_vcWineFontFolders.end());
    return vcOut;
}

std::wstring CTarget::UserSid() const {
    if (!m_strSid.empty()) {
        return m_strSid;
    }
    // A volume's registry holds its one user below HKEY_USERS under the SID it found for the
    // profile (beside .DEFAULT and the user's <SID>_Classes).
    CRegKey users;
    std::wstring strName;
    if (m_reg.OpenRoot(HKEY_USERS, &users) == ERROR_SUCCESS) {
        for (DWORD i = 0; users.EnumKey(i, &strName) == ERROR_SUCCESS; ++i) {
            if (strName.starts_with(L"S-1-") && !FoldCase(strName).ends_with(L"_CLASSES")) {
                return strName;
            }
        }
    }
    return {};
}

}  // namespace Branwick::Platform
