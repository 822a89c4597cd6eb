#include "platform/environment/environment.h"

#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

const wchar_t kProfileList[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kSessionEnvironment[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";

// The text of a REG_SZ or REG_EXPAND_SZ value, REG_EXPAND_SZ expanded against env. False for a
// missing value, another type or an empty text.
bool ReadText(const CRegValue& value, const CEnvironment& env, std::wstring& strOut) {
    if (value.m_dwType != REG_SZ && value.m_dwType != REG_EXPAND_SZ) {
        return false;
    }
    strOut = FromUtf16Le(value.m_vData.data(), value.m_vData.size());
    if (value.m_dwType == REG_EXPAND_SZ) {
        strOut = env.Expand(strOut);
    }
    return !strOut.empty();
}

bool ReadText(const CRegistry& reg, HKEY hRoot, const std::wstring& strPath, const std::wstring& strName,
              const CEnvironment& env, std::wstring& strOut) {
    CRegKey key;
    CRegValue value{strName, REG_NONE, {}};
    return reg.OpenKey(hRoot, strPath, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS &&
           key.QueryValue(strName, &value.m_dwType, &value.m_vData) == ERROR_SUCCESS &&
           ReadText(value, env, strOut);
}

void SetIfGiven(CEnvironment& env, const std::wstring& strName, const std::wstring& strValue) {
    if (!strValue.empty()) {
        env.Set(strName, strValue);
    }
}

void SetIfMissing(CEnvironment& env, const std::wstring& strName, const std::wstring& strValue) {
    std::wstring strOld;
    if (!strValue.empty() && !env.Get(strName, strOld)) {
        env.Set(strName, strValue);
    }
}

// Every text value of a key, in the order the key keeps them.
void ApplyKey(const CRegistry& reg, HKEY hRoot, const std::wstring& strPath, CEnvironment& env) {
    CRegKey key;
    if (reg.OpenKey(hRoot, strPath, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return;
    }
    CRegValue value;
    for (DWORD i = 0; key.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
        std::wstring strText, strOld;
        if (value.m_strName.empty() || !ReadText(value, env, strText)) {
            continue;
        }
        if (EqualNoCase(value.m_strName, L"PATH") && env.Get(L"PATH", strOld)) {
            strText = strOld + L';' + strText;
        }
        env.Set(value.m_strName, strText);
    }
}

std::wstring LeafOf(const std::wstring& strPath) { return strPath.substr(strPath.find_last_of(L'\\') + 1); }

std::wstring ProfileFolder(const CRegistry& reg, const CEnvironmentUser& user, const CEnvironment& env) {
    std::wstring strFolder;
    if (!user.m_strSid.empty() &&
        ReadText(reg, HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L'\\' + user.m_strSid, L"ProfileImagePath",
                 env, strFolder)) {
        return strFolder;
    }
    if (user.m_strName.empty()) {
        return {};
    }
    CRegKey list;
    std::wstring strSid;
    if (reg.OpenKey(HKEY_LOCAL_MACHINE, kProfileList, KEY_READ | KEY_WOW64_64KEY, &list) == ERROR_SUCCESS) {
        for (DWORD i = 0; list.EnumKey(i, &strSid) == ERROR_SUCCESS; ++i) {
            if (ReadText(reg, HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L'\\' + strSid, L"ProfileImagePath",
                         env, strFolder) &&
                EqualNoCase(LeafOf(strFolder), user.m_strName)) {
                return strFolder;
            }
        }
    }
    std::wstring strProfiles;
    if (!ReadText(reg, HKEY_LOCAL_MACHINE, kProfileList, L"ProfilesDirectory", env, strProfiles)) {
        strProfiles = env.Get(L"SystemDrive") + L"\\Users";
    }
    return strProfiles + L'\\' + user.m_strName;
}

// What Windows sets at log-on from the profile folder, unless the registry already said it.
void AddProfile(const std::wstring& strFolder, CEnvironment& env) {
    if (strFolder.size() < 3 || strFolder[1] != L':') {
        return;
    }
    SetIfMissing(env, L"USERPROFILE", strFolder);
    SetIfMissing(env, L"HOMEDRIVE", strFolder.substr(0, 2));
    SetIfMissing(env, L"HOMEPATH", strFolder.substr(2));
    SetIfMissing(env, L"USERNAME", LeafOf(strFolder));
    if (FoldCase(strFolder).find(L"\\DOCUMENTS AND SETTINGS\\") != std::wstring::npos) {
        SetIfMissing(env, L"APPDATA", strFolder + L"\\Application Data");
    } else {
        SetIfMissing(env, L"APPDATA", strFolder + L"\\AppData\\Roaming");
        SetIfMissing(env, L"LOCALAPPDATA", strFolder + L"\\AppData\\Local");
    }
}

void AddCommonFolders(const CRegistry& reg, CEnvironment& env) {
    std::wstring strText;
    if (ReadText(reg, HKEY_LOCAL_MACHINE, kProfileList, L"ProgramData", env, strText)) {
        SetIfGiven(env, L"ALLUSERSPROFILE", strText);
        SetIfGiven(env, L"ProgramData", strText);
    } else if (ReadText(reg, HKEY_LOCAL_MACHINE, kProfileList, L"AllUsersProfile", env, strText)) {
        std::wstring strProfiles;  // the older layout names the folder below ProfilesDirectory
        ReadText(reg, HKEY_LOCAL_MACHINE, kProfileList, L"ProfilesDirectory", env, strProfiles);
        env.Set(L"ALLUSERSPROFILE", strProfiles + L'\\' + strText);
    }
    if (ReadText(reg, HKEY_LOCAL_MACHINE, kProfileList, L"Public", env, strText)) {
        SetIfGiven(env, L"PUBLIC", strText);
    }
}

void AddProgramFolders(const CRegistry& reg, CEnvironment& env) {
    auto read = [&](const wchar_t* pName) {
        std::wstring strText;
        ReadText(reg, HKEY_LOCAL_MACHINE, kCurrentVersion, pName, env, strText);
        return strText;
    };
    const std::wstring strFiles = read(L"ProgramFilesDir"), strCommon = read(L"CommonFilesDir");
    if (!reg.Is64Bit()) {
        SetIfGiven(env, L"ProgramFiles", strFiles);
        SetIfGiven(env, L"CommonProgramFiles", strCommon);
        return;
    }
    const std::wstring strFiles86 = read(L"ProgramFilesDir (x86)"), strCommon86 = read(L"CommonFilesDir (x86)");
    SetIfGiven(env, L"ProgramFiles", strFiles86);  // the program is a 32-bit one
    SetIfGiven(env, L"CommonProgramFiles", strCommon86);
    SetIfGiven(env, L"ProgramFiles(x86)", strFiles86);
    SetIfGiven(env, L"CommonProgramFiles(x86)", strCommon86);
    SetIfGiven(env, L"ProgramW6432", strFiles);
    SetIfGiven(env, L"CommonProgramW6432", strCommon);
}

// A 32-bit process on a 64-bit system sees itself as x86 and the real machine in ...W6432.
void AddWow64Architecture(const CRegistry& reg, CEnvironment& env) {
    std::wstring strArch;
    if (reg.Is64Bit() && env.Get(L"PROCESSOR_ARCHITECTURE", strArch)) {
        env.Set(L"PROCESSOR_ARCHITEW6432", strArch);
        env.Set(L"PROCESSOR_ARCHITECTURE", L"x86");
    }
}

}  // namespace

bool CEnvironment::Get(const std::wstring& strName, std::wstring& strValue) const {
    const auto it = m_mapVars.find(FoldCase(strName));
    if (it == m_mapVars.end()) {
        return false;
    }
    strValue = it->second.second;
    return true;
}

std::wstring CEnvironment::Get(const std::wstring& strName) const {
    std::wstring strValue;
    Get(strName, strValue);
    return strValue;
}

void CEnvironment::Set(const std::wstring& strName, const std::wstring& strValue) {
    const std::wstring key = FoldCase(strName);
    if (strValue.empty()) {
        m_mapVars.erase(key);
        return;
    }
    auto [it, bNew] = m_mapVars.try_emplace(key, strName, strValue);
    it->second.second = strValue;
}

std::wstring CEnvironment::Expand(const std::wstring& strText) const {
    std::wstring out;
    std::size_t pos = 0;
    while (pos < strText.size()) {
        const std::size_t open = strText.find(L'%', pos);
        const std::size_t close = open == std::wstring::npos ? open : strText.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out.append(strText, pos, std::wstring::npos);
            break;
        }
        out.append(strText, pos, open - pos);
        std::wstring strValue;
        if (Get(strText.substr(open + 1, close - open - 1), strValue)) {
            out += strValue;
            pos = close + 1;
        } else {
            out.append(strText, open, close - open);  // "%NAME"; the closing '%' is looked at again
            pos = close;
        }
    }
    return out;
}

std::vector<std::pair<std::wstring, std::wstring>> CEnvironment::Variables() const {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const auto& [key, var] : m_mapVars) {
        out.push_back(var);
    }
    return out;
}

CEnvironment BuildEnvironment(const CRegistry& reg, const CEnvironmentUser& user) {
    CEnvironment env;
    std::wstring strRoot;
    if (!ReadText(reg, HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", L"SystemRoot", env,
                  strRoot)) {
        strRoot = L"C:\\windows";
    }
    env.Set(L"SystemDrive", strRoot.substr(0, 2));
    env.Set(L"SystemRoot", strRoot);
    ApplyKey(reg, HKEY_LOCAL_MACHINE, kSessionEnvironment, env);
    AddProfile(ProfileFolder(reg, user, env), env);
    ApplyKey(reg, HKEY_CURRENT_USER, L"Environment", env);
    ApplyKey(reg, HKEY_CURRENT_USER, L"Volatile Environment", env);
    AddCommonFolders(reg, env);
    AddProgramFolders(reg, env);
    std::wstring strComputer;
    if (ReadText(reg, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                 L"ComputerName", env, strComputer)) {
        SetIfMissing(env, L"COMPUTERNAME", strComputer);
    }
    AddWow64Architecture(reg, env);
    return env;
}

}  // namespace Branwick::Platform
