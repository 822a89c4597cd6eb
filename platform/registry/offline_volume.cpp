// An offline Windows installation's registry: its hive files mounted where Windows loads them.
#include <dirent.h>
#include <sys/stat.h>

#include <cwchar>
#include <initializer_list>

#include "platform/registry/hive_store.h"
#include "platform/registry/registry_core.h"
#include "platform/text/text.h"

namespace Branwick::Platform {

using Reg::CKeyNode;
using Reg::CName;
using Reg::CNameView;

namespace {

// Without a user, the current user's places are ones no store holds: HKEY_CURRENT_USER is then
// not found and the merged classes root has only the machine's half.
constexpr wchar_t kNoUser[] = L"User\\(no user)";
constexpr wchar_t kNoUserClasses[] = L"User\\(no user)_Classes";
// A user whose SID neither the profile list nor UsrClass.dat gives.
constexpr wchar_t kUnknownSid[] = L"S-1-5-21-0-0-0-1000";
constexpr wchar_t kSystemPlace[] = L"Machine\\System";

// The entry of strDir named strName in any case, the exact spelling first; empty when there is
// none.
std::string FindEntry(const std::string& strDir, const std::string& strName) {
    struct stat st {};
    if (lstat((strDir + "/" + strName).c_str(), &st) == 0) {
        return strDir + "/" + strName;
    }
    DIR* dir = opendir(strDir.c_str());
    if (dir == nullptr) {
        return {};
    }
    const std::wstring wanted = FromUtf8(strName);
    std::string found;
    while (const dirent* entry = readdir(dir)) {
        if (EqualNoCase(FromUtf8(entry->d_name), wanted)) {
            found = strDir + "/" + entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

// strDir/a/b/... with every element found in any case; empty when one is missing.
std::string FindPath(std::string strDir, std::initializer_list<std::string> elements) {
    for (const std::string& element : elements) {
        strDir = FindEntry(strDir, element);
        if (strDir.empty()) {
            break;
        }
    }
    return strDir;
}

std::string LastElement(const std::string& strPath) {
    return strPath.substr(strPath.rfind('/') + 1);
}

std::uint32_t DwordValue(const CKeyNode* pKey, CNameView strName, std::uint32_t dwDefault) {
    const Reg::CValue* value = pKey != nullptr ? pKey->FindValue(strName) : nullptr;
    if (value == nullptr || value->m_dwType != REG_DWORD || value->m_vData.size() < 4) {
        return dwDefault;
    }
    const auto& d = value->m_vData;
    return d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
}

// A link as Windows makes it when it loads a hive: in memory only, SymbolicLinkValue naming
// the target without a terminator. A key the hive itself holds by that name wins.
void AddLink(CKeyNode* pParent, CNameView strName, const std::wstring& strTarget) {
    if (pParent == nullptr || pParent->FindChild(strName) != nullptr) {
        return;
    }
    CKeyNode* link = pParent->AddChild(CName(strName), pParent->m_qwTime);
    link->Set(Reg::kNodeLink, true);
    link->Set(Reg::kNodeVolatile, true);
    link->SetValue(u"SymbolicLinkValue", REG_LINK, ToUtf16Le(strTarget, false));
}

// CurrentControlSet names the set Select\Current chooses, and its Hardware Profiles\Current the
// profile IDConfigDB\CurrentConfig chooses (HKEY_CURRENT_CONFIG).
void AddSystemLinks(CKeyNode* pRoot) {
    const std::uint32_t current = DwordValue(pRoot->FindChild(u"Select"), u"Current", 0);
    wchar_t set[32];
    std::swprintf(set, 32, L"ControlSet%03u", current);
    CKeyNode* controlSet = pRoot->FindChild(Reg::ToName(set));
    if (current == 0 || controlSet == nullptr) {
        return;
    }
    const std::wstring target = std::wstring(L"\\Registry\\") + kSystemPlace + L"\\" + set;
    AddLink(pRoot, u"CurrentControlSet", target);
    const CKeyNode* control = controlSet->FindChild(u"Control");
    const std::uint32_t config = DwordValue(
        control != nullptr ? control->FindChild(u"IDConfigDB") : nullptr, u"CurrentConfig", 1);
    wchar_t profile[32];
    std::swprintf(profile, 32, L"%04u", config);
    CKeyNode* profiles = controlSet->FindChild(u"Hardware Profiles");
    if (profiles != nullptr && profiles->FindChild(Reg::ToName(profile)) != nullptr) {
        AddLink(profiles, u"Current", target + L"\\Hardware Profiles\\" + profile);
    }
}

CStatus MountHive(CRegistryCore* pCore, const std::string& strVolume, const std::string& strFile,
                  const std::wstring& strPlace, Reg::CHiveStore::CVolatileMaker fnVolatile = {}) {
    const std::wstring name = FromUtf8(strFile.substr(strVolume.size() + 1));
    return pCore->Mount(
        std::make_unique<Reg::CHiveStore>(strFile, name, std::move(fnVolatile), strVolume),
        strPlace);
}

// The SID whose profile list entry has its profile in strFolder, e.g. "C:\Users\alice".
std::wstring ProfileSid(const CRegistry& registry, const std::wstring& strFolder) {
    CRegKey list;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE,
                         L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                         &list) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring sid;
    for (DWORD i = 0; list.EnumKey(i, &sid) == ERROR_SUCCESS; ++i) {
        CRegKey profile;
        DWORD type = 0;
        CRegBytes data;
        if (list.OpenKey(sid, 0, &profile) != ERROR_SUCCESS ||
            profile.QueryValue(L"ProfileImagePath", &type, &data) != ERROR_SUCCESS) {
            continue;
        }
        std::wstring path = FromUtf16Le(data.data(), data.size());
        while (!path.empty() && path.back() == L'\\') {
            path.pop_back();
        }
        if (EqualNoCase(path.substr(path.rfind(L'\\') + 1), strFolder)) {
            return sid;
        }
    }
    return {};
}

// UsrClass.dat calls its root "<SID>_Classes".
std::wstring ClassesSid(const std::string& strUsrClass) {
    const std::wstring root = Reg::ReadHiveRootName(strUsrClass);
    constexpr std::wstring_view kSuffix = L"_Classes";
    if (root.size() > kSuffix.size() && root.starts_with(L"S-1-") && root.ends_with(kSuffix)) {
        return root.substr(0, root.size() - kSuffix.size());
    }
    return {};
}

bool Is64BitInstall(const CRegistry& registry) {
    CRegKey env;
    DWORD type = 0;
    CRegBytes data;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE,
                         L"System\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                         &env) == ERROR_SUCCESS &&
        env.QueryValue(L"PROCESSOR_ARCHITECTURE", &type, &data) == ERROR_SUCCESS) {
        const std::wstring arch = FromUtf16Le(data.data(), data.size());
        for (const wchar_t* known : {L"AMD64", L"ARM64", L"IA64"}) {
            if (EqualNoCase(arch, known)) {
                return true;
            }
        }
        if (EqualNoCase(arch, L"x86")) {
            return false;
        }
    }
    CRegKey wow;
    return registry.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node", 0, &wow) == ERROR_SUCCESS;
}

struct CUserFiles {
    std::string m_strNtUser;
    std::string m_strUsrClass;  // empty when the profile has none
};

CStatus FindUser(const std::string& strVolume, const std::wstring& strUser, CUserFiles* pOut) {
    if (strUser == L"." || strUser == L".." ||
        strUser.find_first_of(L"/\\") != std::wstring::npos) {
        return {ERROR_INVALID_PARAMETER, L"'" + strUser + L"' is not a user name."};
    }
    const std::string user = ToUtf8(strUser);
    // Vista and later, then XP.
    for (const char* profiles : {"Users", "Documents and Settings"}) {
        const std::string profile = FindPath(strVolume, {profiles, user});
        pOut->m_strNtUser = profile.empty() ? "" : FindEntry(profile, "NTUSER.DAT");
        if (pOut->m_strNtUser.empty()) {
            continue;
        }
        pOut->m_strUsrClass =
            FindPath(profile, {"AppData", "Local", "Microsoft", "Windows", "UsrClass.dat"});
        if (pOut->m_strUsrClass.empty()) {
            pOut->m_strUsrClass = FindPath(profile, {"Local Settings", "Application Data",
                                                     "Microsoft", "Windows", "UsrClass.dat"});
        }
        return {};
    }
    return {ERROR_FILE_NOT_FOUND, L"The volume has no user '" + strUser + L"': Users/" + strUser +
                                      L"/NTUSER.DAT was not found."};
}

CStatus MountUser(CRegistryCore* pCore, const CRegistry& registry, const std::string& strVolume,
                  const CUserFiles& files) {
    std::wstring sid = ProfileSid(
        registry, FromUtf8(LastElement(files.m_strNtUser.substr(0, files.m_strNtUser.rfind('/')))));
    if (sid.empty() && !files.m_strUsrClass.empty()) {
        sid = ClassesSid(files.m_strUsrClass);
    }
    if (sid.empty()) {
        sid = kUnknownSid;
    }
    const std::wstring user = L"User\\" + sid;
    const std::wstring classes = user + L"_Classes";
    Reg::CHiveStore::CVolatileMaker link;
    if (!files.m_strUsrClass.empty()) {
        // HKCU\Software\Classes is Windows' link to the user's classes hive.
        link = [target = L"\\Registry\\" + classes](CKeyNode* pRoot) {
            AddLink(pRoot->FindChild(u"Software"), u"Classes", target);
        };
    }
    CStatus status = MountHive(pCore, strVolume, files.m_strNtUser, user, std::move(link));
    if (status.Ok() && !files.m_strUsrClass.empty()) {
        status = MountHive(pCore, strVolume, files.m_strUsrClass, classes);
    }
    if (status.Ok()) {
        pCore->SetUserPlaces(user, classes);
    }
    return status;
}

}  // namespace

CStatus CRegistry::OpenOfflineVolume(const std::string& strVolumeDir, const std::wstring& strUser,
                                     CRegistry* pOut) {
    *pOut = CRegistry();
    std::string volume = strVolumeDir;
    while (volume.size() > 1 && volume.back() == '/') {
        volume.pop_back();
    }
    std::string config = FindPath(volume, {"Windows", "System32", "config"});
    if (config.empty()) {
        config = FindPath(volume, {"WINNT", "System32", "config"});
    }
    const std::string software = config.empty() ? "" : FindEntry(config, "SOFTWARE");
    const std::string system = config.empty() ? "" : FindEntry(config, "SYSTEM");
    if (software.empty() || system.empty()) {
        return {ERROR_FILE_NOT_FOUND,
                FromUtf8(volume) +
                    L" is not a Windows system volume: "
                    L"Windows/System32/config/SOFTWARE or SYSTEM is missing (on Windows NT: "
                    L"WINNT/System32/config)."};
    }
    CUserFiles user;
    if (!strUser.empty()) {
        CStatus found = FindUser(volume, strUser, &user);
        if (!found.Ok()) {
            return found;
        }
    }
    CRegistryLayout layout;
    layout.m_eClassesRoot = EClassesRoot::Merged;
    layout.m_strCurrentUser = kNoUser;
    layout.m_strUserClasses = kNoUserClasses;
    auto core = std::make_shared<CRegistryCore>(layout);
    CStatus status = MountHive(core.get(), volume, software, L"Machine\\Software");
    if (status.Ok()) {
        status = MountHive(core.get(), volume, system, kSystemPlace, AddSystemLinks);
    }
    const std::string defaultHive = FindEntry(config, "DEFAULT");
    if (status.Ok() && !defaultHive.empty()) {
        status = MountHive(core.get(), volume, defaultHive, L"User\\.DEFAULT");
    }
    CRegistry registry = CRegistryCore::Wrap(core);
    if (status.Ok() && !strUser.empty()) {
        status = MountUser(core.get(), registry, volume, user);
    }
    if (!status.Ok()) {
        return status;
    }
    core->Set64Bit(Is64BitInstall(registry));
    *pOut = std::move(registry);
    return status;
}

}  // namespace Branwick::Platform
