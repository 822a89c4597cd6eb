#include "platform/demo/demo.h"

#include <dirent.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/atomic/atomic_file.h"
#include "platform/demo/recipe.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/shelllink/shelllink.h"
#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

const wchar_t kDemoUser[] = L"demo";

bool Fail(std::wstring& strError, std::wstring strText) {
    strError = std::move(strText);
    return false;
}

// The folder must be new or empty: the demo never writes over anything.
bool PrepareFolder(const std::string& strFolder, std::wstring& strError) {
    if (mkdir(strFolder.c_str(), 0777) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        return Fail(strError, L"Cannot create \"" + FromUtf8(strFolder) + L"\": " + FromUtf8(std::strerror(errno)));
    }
    DIR* dir = opendir(strFolder.c_str());
    bool bEmpty = dir != nullptr;
    while (dir && bEmpty) {
        const dirent* d = readdir(dir);
        if (!d) {
            break;
        }
        bEmpty = std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0;
    }
    if (dir) {
        closedir(dir);
    }
    return bEmpty || Fail(strError, L"\"" + FromUtf8(strFolder) + L"\" is not an empty folder");
}

bool MakeDriveC(const std::string& strFolder, std::wstring& strError) {
    const std::string strDevices = strFolder + "/dosdevices";
    if (mkdir((strFolder + "/drive_c").c_str(), 0777) != 0 || mkdir(strDevices.c_str(), 0777) != 0 ||
        symlink("../drive_c", (strDevices + "/c:").c_str()) != 0) {
        return Fail(strError, L"Cannot make drive C: in \"" + FromUtf8(strFolder) + L"\": " +
                                  FromUtf8(std::strerror(errno)));
    }
    return true;
}

// Every missing folder on the way to (and including) strFolder.
CStatus MakeFolders(CFileSystem& files, const std::wstring& strFolder) {
    for (std::size_t pos = 3; pos != std::wstring::npos;) {
        pos = strFolder.find(L'\\', pos + 1);
        const std::wstring strLevel = strFolder.substr(0, pos);
        if (files.GetFileAttributes(strLevel) == INVALID_FILE_ATTRIBUTES) {
            if (CStatus s = files.CreateDirectory(strLevel); !s.Ok()) {
                return s;
            }
        }
    }
    return {};
}

CStatus RunStep(CFileSystem& files, const CRecipeStep& step) {
    if (step.m_eKind == CRecipeStep::EKind::Folder) {
        return MakeFolders(files, step.m_strPath);
    }
    if (CStatus s = MakeFolders(files, step.m_strPath.substr(0, step.m_strPath.rfind(L'\\')));
        !s.Ok()) {
        return s;
    }
    switch (step.m_eKind) {
        case CRecipeStep::EKind::Link:
            return files.WriteFile(step.m_strPath, MakeShellLink(step.m_strTarget));
        case CRecipeStep::EKind::Trace:
            if (files.GetFileAttributes(step.m_strPath) != INVALID_FILE_ATTRIBUTES) {
                return {};  // an earlier step made it, e.g. as a link
            }
            [[fallthrough]];
        default:
            return files.WriteFile(step.m_strPath, "");
    }
}

bool WriteRegistry(const std::string& strFolder, const CDemoRecipe& recipe, std::wstring& strError) {
    CRegistry reg;
    CStatus s = CRegistry::OpenWinePrefix(strFolder, {.m_bCreate = true, .m_b64Bit = true}, &reg);
    if (s.Ok()) {
        s = reg.ImportText(HKEY_LOCAL_MACHINE, recipe.m_strMachine);
    }
    if (s.Ok()) {
        s = reg.ImportText(HKEY_CURRENT_USER, recipe.m_strUser);
    }
    // HKEY_USERS itself is no store, so .Default's values are set one by one.
    for (std::size_t i = 0; s.Ok() && i + 2 < recipe.m_vcDefault.size(); i += 3) {
        CRegKey key;
        const std::vector<std::uint8_t> data = ToUtf16Le(recipe.m_vcDefault[i + 2]);
        LONG rc = reg.CreateKey(HKEY_USERS, L".Default\\" + recipe.m_vcDefault[i], KEY_ALL_ACCESS, &key);
        if (rc == ERROR_SUCCESS) {
            rc = key.SetValue(recipe.m_vcDefault[i + 1], REG_SZ, CRegBytes(data.begin(), data.end()));
        }
        s = {rc, rc == ERROR_SUCCESS ? L"" : L"HKEY_USERS\\.Default cannot be written"};
    }
    if (s.Ok()) {
        s = reg.Flush();
    }
    return s.Ok() || Fail(strError, L"Writing the demo registry failed: " + s.m_strText);
}

Json::Value EntryJson(const CDemoEntry& e) {
    Json::Value v(Json::objectValue);
    v["category"] = e.m_dwCategory;
    v["root"] = ToUtf8(e.m_strRoot);
    v["path"] = ToUtf8(e.m_strPath);
    v["view"] = e.m_dwView;
    v["value"] = ToUtf8(e.m_strValue);
    if (!e.m_strDescription.empty()) {
        v["description"] = ToUtf8(e.m_strDescription);
    }
    v["note"] = ToUtf8(e.m_strNote);
    return v;
}

std::string ExpectationsJson(const CDemoExpectations& expect) {
    Json::Value root(Json::objectValue);
    root["format"] = 1;
    root["user"] = ToUtf8(expect.m_strUser);
    root["findings"] = Json::Value(Json::arrayValue);
    root["sound"] = Json::Value(Json::arrayValue);
    root["history"] = Json::Value(Json::arrayValue);
    for (const CDemoEntry& e : expect.m_vcFindings) {
        root["findings"].append(EntryJson(e));
    }
    for (const CDemoEntry& e : expect.m_vcSound) {
        root["sound"].append(EntryJson(e));
    }
    for (const CDemoTrace& t : expect.m_vcHistory) {
        Json::Value v(Json::objectValue);
        v["items"] = t.m_dwItems;
        v["path"] = ToUtf8(t.m_strPath);
        v["erased"] = t.m_bErased;
        root["history"].append(v);
    }
    Json::StreamWriterBuilder builder;
    builder["emitUTF8"] = true;
    builder["indentation"] = "  ";
    return Json::writeString(builder, root) + "\n";
}

bool ReadEntries(const Json::Value& array, bool bFindings, std::vector<CDemoEntry>& out) {
    if (!array.isArray()) {
        return false;
    }
    for (const Json::Value& v : array) {
        if (!v.isObject() || !v["category"].isUInt() || !v["path"].isString() || !v["root"].isString() ||
            !v["view"].isUInt() || !v["value"].isString() || (bFindings && !v["description"].isString())) {
            return false;
        }
        out.push_back({v["category"].asUInt(), FromUtf8(v["root"].asString()), FromUtf8(v["path"].asString()),
                       v["view"].asUInt(), FromUtf8(v["value"].asString()),
                       FromUtf8(v.get("description", "").asString()), FromUtf8(v.get("note", "").asString())});
    }
    return true;
}

bool ReadHistory(const Json::Value& array, std::vector<CDemoTrace>& out) {
    if (!array.isArray()) {
        return false;
    }
    for (const Json::Value& v : array) {
        if (!v.isObject() || !v["items"].isUInt() || !v["path"].isString() || !v["erased"].isBool()) {
            return false;
        }
        out.push_back({v["items"].asUInt(), FromUtf8(v["path"].asString()), v["erased"].asBool()});
    }
    return true;
}

}  // namespace

bool MakeDemoPrefix(const std::string& strFolder, CDemoExpectations* pOut, std::wstring& strError) {
    CDemoRecipe recipe;
    if (!ParseRecipe(kDemoRecipe, recipe, strError) || !PrepareFolder(strFolder, strError) ||
        !MakeDriveC(strFolder, strError)) {
        return false;
    }
    recipe.m_expect.m_strUser = kDemoUser;
    CFileSystem files(WineDriveMap(strFolder));
    for (const CRecipeStep& step : recipe.m_vcSteps) {
        if (CStatus s = RunStep(files, step); !s.Ok()) {
            return Fail(strError, L"Making the demo's files failed: " + s.m_strText);
        }
    }
    if (!WriteRegistry(strFolder, recipe, strError)) {
        return false;
    }
    std::string strWhy;
    if (!SaveFileAtomically(strFolder + "/" + kDemoExpectationsFile, ExpectationsJson(recipe.m_expect), strWhy)) {
        return Fail(strError, L"Writing the demo's expectations failed: " + FromUtf8(strWhy));
    }
    if (pOut) {
        *pOut = std::move(recipe.m_expect);
    }
    return true;
}

bool LoadDemoExpectations(const std::string& strFolder, CDemoExpectations& out, std::wstring& strError) {
    const std::string strPath = strFolder + "/" + kDemoExpectationsFile;
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    Json::Value root;
    std::string strWhy;
    const std::string strText = text.str();
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!in || !reader->parse(strText.data(), strText.data() + strText.size(), &root, &strWhy)) {
        return Fail(strError, L"\"" + FromUtf8(strPath) + L"\" cannot be read: " + FromUtf8(strWhy));
    }
    out = CDemoExpectations();
    if (!root.isObject() || root["format"] != 1 || !root["user"].isString() ||
        !ReadEntries(root["findings"], true, out.m_vcFindings) ||
        !ReadEntries(root["sound"], false, out.m_vcSound) || !ReadHistory(root["history"], out.m_vcHistory)) {
        return Fail(strError, L"\"" + FromUtf8(strPath) + L"\" is not a demo expectations file");
    }
    out.m_strUser = FromUtf8(root["user"].asString());
    return true;
}

}  // namespace Branwick::Platform
