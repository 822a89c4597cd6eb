#include <glib.h>
#include <json/json.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "tools/FormatService/FormatService.h"
#include "tools/FormatService/Icons.h"

namespace Branwick::Formats {

extern const char kDevelopersTable[];

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxExtensionLength = 64;

struct SApplication {
    std::string strName;
    std::string strDesktopId;
};

struct STypeInfo {
    std::string strComment;
    std::string strAcronym;
    std::string strExpandedAcronym;
    std::string strIcon;
    std::string strGenericIcon;
    std::vector<std::string> vParents;
    std::vector<std::string> vExtensions;
};

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

// A type name as the database writes them ("image/png"); anything else is not used, least of all
// to make a file name.
bool IsTypeName(std::string_view strType) {
    const std::size_t nSlash = strType.find('/');
    if (nSlash == 0 || nSlash == std::string_view::npos || nSlash + 1 == strType.size() ||
        strType.find('/', nSlash + 1) != std::string_view::npos ||
        strType.find("..") != std::string_view::npos || strType.starts_with('.')) {
        return false;
    }
    return std::all_of(strType.begin(), strType.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '/' || c == '.' || c == '+' || c == '-' || c == '_';
    });
}

// The lines of a small text file; none when it is missing.
std::vector<std::string> Lines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> vLines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') {
            vLines.push_back(line);
        }
    }
    return vLines;
}

// "a:b" or "a b" split at the first separator; false when there is none.
bool SplitPair(const std::string& line, char cSeparator, std::string& a, std::string& b) {
    const std::size_t n = line.find(cSeparator);
    if (n == std::string::npos) {
        return false;
    }
    a = line.substr(0, n);
    b = line.substr(n + 1);
    return true;
}

bool IsWebUrl(std::string_view url) {
    return url.starts_with("https://") || url.starts_with("http://");
}

// Unescapes a desktop entry string value (\s \n \t \r \\).
std::string DesktopString(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char c = value[++i];
        text += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return text;
}

}  // namespace

struct CFormatCatalog::SData {
    explicit SData(const SCatalogOptions& options)
        : icons(options.vDataDirs, options.vThemes, options.nIconSize) {}

    std::map<std::string, std::vector<std::string>> extensions;  // EXT -> types, best first
    std::map<std::string, STypeInfo> types;
    std::map<std::string, std::string> aliases;  // alias -> type
    std::map<std::string, std::vector<SApplication>> applications;  // type -> by name
    std::map<std::string, std::string> homepages;  // desktop id -> URL
    std::map<std::string, std::string> developers;  // type -> organisation
    CIconIndex icons;

    void LoadGlobs(const fs::path& mimeDir);
    void LoadTypeFile(const fs::path& mimeDir, const std::string& strType, STypeInfo& info);
    void LoadMimeDatabase(const std::vector<fs::path>& vDataDirs);
    void LoadApplications(const std::vector<fs::path>& vDataDirs);
    void LoadDesktopFile(const fs::path& file, const std::string& strDesktopId);
    void LoadAppStream(const std::vector<fs::path>& vDataDirs);
    void LoadDevelopers();
    std::string Canonical(const std::string& strType) const {
        const auto it = aliases.find(strType);
        return it == aliases.end() ? strType : it->second;
    }
};

void CFormatCatalog::SData::LoadGlobs(const fs::path& mimeDir) {
    // "weight:type:pattern[:flags]"; only the plain "*.ext" patterns name an extension.
    std::map<std::string, std::vector<std::pair<int, std::string>>> found;
    for (const std::string& line : Lines(mimeDir / "globs2")) {
        std::string strWeight, strRest, strType, strPattern;
        if (!SplitPair(line, ':', strWeight, strRest) ||
            !SplitPair(strRest, ':', strType, strPattern)) {
            continue;
        }
        strPattern = strPattern.substr(0, strPattern.find(':'));
        if (!strPattern.starts_with("*.") || !IsTypeName(strType)) {
            continue;
        }
        const std::string strExtension = Upper(strPattern.substr(2));
        if (!IsValidExtension(strExtension)) {
            continue;
        }
        found[strExtension].emplace_back(-std::atoi(strWeight.c_str()), strType);
    }
    for (auto& [strExtension, vTypes] : found) {
        if (extensions.contains(strExtension)) {
            continue;  // an earlier data folder said it already
        }
        std::sort(vTypes.begin(), vTypes.end());
        std::vector<std::string>& vNames = extensions[strExtension];
        for (const auto& [nWeight, strType] : vTypes) {
            if (std::find(vNames.begin(), vNames.end(), strType) == vNames.end()) {
                vNames.push_back(strType);
                types[strType].vExtensions.push_back(strExtension);
            }
        }
    }
}

void CFormatCatalog::SData::LoadTypeFile(const fs::path& mimeDir, const std::string& strType,
                                         STypeInfo& info) {
    pugi::xml_document document;
    if (!document.load_file((mimeDir / (strType + ".xml")).c_str())) {
        return;
    }
    const pugi::xml_node root = document.child("mime-type");
    for (const pugi::xml_node comment : root.children("comment")) {
        if (comment.attribute("xml:lang").empty()) {
            info.strComment = comment.text().get();
        }
    }
    info.strAcronym = root.child("acronym").text().get();
    info.strExpandedAcronym = root.child("expanded-acronym").text().get();
    if (info.strIcon.empty()) {
        info.strIcon = root.child("icon").attribute("name").value();
    }
    if (info.strGenericIcon.empty()) {
        info.strGenericIcon = root.child("generic-icon").attribute("name").value();
    }
}

void CFormatCatalog::SData::LoadMimeDatabase(const std::vector<fs::path>& vDataDirs) {
    for (const fs::path& dataDir : vDataDirs) {
        LoadGlobs(dataDir / "mime");
    }
    for (const fs::path& dataDir : vDataDirs) {
        const fs::path mimeDir = dataDir / "mime";
        std::string a, b;
        for (const std::string& line : Lines(mimeDir / "aliases")) {
            if (SplitPair(line, ' ', a, b)) {
                aliases.try_emplace(a, b);
            }
        }
        for (const std::string& line : Lines(mimeDir / "subclasses")) {
            if (SplitPair(line, ' ', a, b) && types.contains(a)) {
                std::vector<std::string>& vParents = types[a].vParents;
                if (std::find(vParents.begin(), vParents.end(), b) == vParents.end()) {
                    vParents.push_back(b);
                }
            }
        }
        for (const auto& [file, pIcon] : {std::pair{"icons", &STypeInfo::strIcon},
                                          std::pair{"generic-icons", &STypeInfo::strGenericIcon}}) {
            for (const std::string& line : Lines(mimeDir / file)) {
                if (SplitPair(line, ':', a, b) && types.contains(a) && (types[a].*pIcon).empty()) {
                    types[a].*pIcon = b;
                }
            }
        }
    }
    // Names and acronyms; also those of parent types, which descriptions mention.
    std::set<std::string> wanted;
    for (const auto& [strType, info] : types) {
        wanted.insert(strType);
        wanted.insert(info.vParents.begin(), info.vParents.end());
    }
    for (const std::string& strType : wanted) {
        if (!IsTypeName(strType)) {
            continue;
        }
        STypeInfo& info = types[strType];
        for (const fs::path& dataDir : vDataDirs) {
            if (info.strComment.empty()) {
                LoadTypeFile(dataDir / "mime", strType, info);
            }
        }
    }
}

void CFormatCatalog::SData::LoadDesktopFile(const fs::path& file, const std::string& strDesktopId) {
    std::ifstream in(file);
    bool bInEntry = false;
    std::string strName, strTypes, strKind;
    bool bHidden = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('[')) {
            bInEntry = line == "[Desktop Entry]";
            continue;
        }
        std::string strKey, strValue;
        if (!bInEntry || !SplitPair(line, '=', strKey, strValue)) {
            continue;
        }
        while (!strKey.empty() && strKey.back() == ' ') {
            strKey.pop_back();
        }
        strValue.erase(0, strValue.find_first_not_of(' '));
        if (strKey == "Name") {
            strName = DesktopString(strValue);
        } else if (strKey == "MimeType") {
            strTypes = strValue;
        } else if (strKey == "Type") {
            strKind = strValue;
        } else if (strKey == "Hidden") {
            bHidden = strValue == "true";
        }
    }
    if (strKind != "Application" || bHidden || strName.empty()) {
        return;
    }
    std::stringstream list(strTypes);
    std::set<std::string> seen;
    for (std::string strType; std::getline(list, strType, ';');) {
        strType = Canonical(strType);
        if (!strType.empty() && seen.insert(strType).second) {
            applications[strType].push_back({strName, strDesktopId});
        }
    }
}

void CFormatCatalog::SData::LoadApplications(const std::vector<fs::path>& vDataDirs) {
    std::set<std::string> seenIds;  // the first data folder with a desktop id owns it
    for (const fs::path& dataDir : vDataDirs) {
        const fs::path appDir = dataDir / "applications";
        std::error_code error;
        for (fs::recursive_directory_iterator it(appDir, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() != ".desktop" || !it->is_regular_file(error)) {
                continue;
            }
            std::string strId = fs::relative(it->path(), appDir, error).string();
            std::replace(strId.begin(), strId.end(), '/', '-');
            if (seenIds.insert(strId).second) {
                LoadDesktopFile(it->path(), strId);
            }
        }
    }
    for (auto& [strType, vApps] : applications) {
        std::stable_sort(vApps.begin(), vApps.end(),
                         [](const SApplication& a, const SApplication& b) {
                             return a.strName < b.strName;
                         });
    }
}

void CFormatCatalog::SData::LoadAppStream(const std::vector<fs::path>& vDataDirs) {
    for (const fs::path& dataDir : vDataDirs) {
        for (const char* pszFolder : {"metainfo", "appdata"}) {
            std::error_code error;
            for (const fs::directory_entry& entry :
                 fs::directory_iterator(dataDir / pszFolder, error)) {
                if (entry.path().extension() != ".xml") {
                    continue;
                }
                pugi::xml_document document;
                if (!document.load_file(entry.path().c_str())) {
                    continue;
                }
                const pugi::xml_node component = document.child("component");
                const std::string strUrl =
                    component.find_child_by_attribute("url", "type", "homepage").text().get();
                if (!IsWebUrl(strUrl)) {
                    continue;
                }
                std::vector<std::string> vIds;
                for (const pugi::xml_node launchable : component.children("launchable")) {
                    if (std::string_view(launchable.attribute("type").value()) == "desktop-id") {
                        vIds.emplace_back(launchable.text().get());
                    }
                }
                // Older metadata name the desktop file only by the component's id.
                const std::string strId = component.child("id").text().get();
                vIds.push_back(strId.ends_with(".desktop") ? strId : strId + ".desktop");
                for (const std::string& strDesktopId : vIds) {
                    homepages.try_emplace(strDesktopId, strUrl);
                }
            }
        }
    }
}

void CFormatCatalog::SData::LoadDevelopers() {
    std::stringstream table(kDevelopersTable);
    for (std::string line; std::getline(table, line);) {
        std::string strType, strDeveloper;
        if (!line.starts_with('#') && SplitPair(line, '\t', strType, strDeveloper)) {
            developers.emplace(strType, strDeveloper);
        }
    }
}

std::string EncodeBase64(std::string_view bytes) {
    gchar* pszText = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string text(pszText);
    g_free(pszText);
    return text;
}

std::vector<fs::path> SystemDataDirs() {
    const char* pszDirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream list(pszDirs != nullptr && *pszDirs ? pszDirs : "/usr/local/share:/usr/share");
    std::vector<fs::path> vDirs;
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty()) {
            vDirs.emplace_back(dir);
        }
    }
    return vDirs;
}

bool IsValidExtension(std::string_view strExtension) {
    if (strExtension.empty() || strExtension.size() > kMaxExtensionLength ||
        strExtension.starts_with('.') || strExtension.ends_with('.') ||
        strExtension.find("..") != std::string_view::npos) {
        return false;
    }
    return std::all_of(strExtension.begin(), strExtension.end(), [](unsigned char c) {
        return c < 0x80 && (std::isalnum(c) || c == '+' || c == '-' || c == '_' || c == '.');
    });
}

CFormatCatalog::CFormatCatalog(SCatalogOptions options)
    : m_pData(std::make_unique<SData>(options)) {
    m_pData->LoadMimeDatabase(options.vDataDirs);
    m_pData->LoadApplications(options.vDataDirs);
    m_pData->LoadAppStream(options.vDataDirs);
    m_pData->LoadDevelopers();
}

CFormatCatalog::~CFormatCatalog() = default;

std::vector<std::string> CFormatCatalog::Extensions() const {
    std::vector<std::string> vExtensions;
    for (const auto& [strExtension, vTypes] : m_pData->extensions) {
        vExtensions.push_back(strExtension);
    }
    return vExtensions;
}

std::optional<std::string> CFormatCatalog::Answer(std::string_view strExtension) const {
    const std::string strKey = Upper(strExtension);
    if (!IsValidExtension(strKey) || !m_pData->extensions.contains(strKey)) {
        return std::nullopt;
    }
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_answers.find(strKey); it != m_answers.end()) {
            return it->second;
        }
    }
    // Built outside the lock: an icon may take a while to render, and two threads building the
    // same answer at once only do the work twice.
    std::string strAnswer = BuildAnswer(strKey);
    std::lock_guard lock(m_mutex);
    return m_answers.try_emplace(strKey, std::move(strAnswer)).first->second;
}

namespace {

// "Portable Network Graphics (PNG). Media type image/png, a kind of ... Extensions: .A, .B."
std::string Description(const std::string& strType, const STypeInfo& info,
                        const std::map<std::string, STypeInfo>& types) {
    std::string text;
    if (!info.strExpandedAcronym.empty()) {
        text += info.strExpandedAcronym;
        text += info.strAcronym.empty() ? "." : " (" + info.strAcronym + ").";
        text += ' ';
    }
    text += "Media type " + strType;
    for (std::size_t i = 0; i < info.vParents.size(); ++i) {
        const auto it = types.find(info.vParents[i]);
        const std::string& strParent = it != types.end() && !it->second.strComment.empty()
                                           ? it->second.strComment
                                           : info.vParents[i];
        text += (i == 0 ? ", a kind of " : ", ") + strParent;
    }
    text += '.';
    if (info.vExtensions.size() > 1) {
        text += " Extensions:";
        for (std::size_t i = 0; i < info.vExtensions.size(); ++i) {
            text += (i == 0 ? " ." : ", .") + info.vExtensions[i];
        }
        text += '.';
    }
    return text;
}

std::string MediaOf(const std::string& strType) {
    return strType.substr(0, strType.find('/'));
}

}  // namespace

std::string CFormatCatalog::BuildAnswer(const std::string& strExtension) const {
    const SData& data = *m_pData;
    Json::Value answer(Json::arrayValue);
    for (const std::string& strType : data.extensions.at(strExtension)) {
        const STypeInfo& info = data.types.at(strType);
        Json::Value item(Json::objectValue);
        item["Extension"] = strExtension;
        item["FileType"] = info.strComment.empty() ? strType : info.strComment;
        const auto developer = data.developers.find(strType);
        item["Developer"] = developer == data.developers.end() ? "" : developer->second;
        item["Description"] = Description(strType, info, data.types);

        std::string strDashed = strType;
        std::replace(strDashed.begin(), strDashed.end(), '/', '-');
        std::string png;
        for (const std::string& strIcon : {info.strIcon, strDashed, info.strGenericIcon,
                                           MediaOf(strType) + "-x-generic"}) {
            if (!strIcon.empty() && !(png = data.icons.Png(strIcon)).empty()) {
                break;
            }
        }
        item["Image"] = png.empty() ? Json::Value() : Json::Value(EncodeBase64(png));

        Json::Value applications(Json::arrayValue);
        if (const auto apps = data.applications.find(strType); apps != data.applications.end()) {
            for (const SApplication& application : apps->second) {
                Json::Value entry(Json::objectValue);
                entry["Name"] = application.strName;
                const auto home = data.homepages.find(application.strDesktopId);
                entry["Url"] = home == data.homepages.end() ? Json::Value() : home->second;
                applications.append(entry);
            }
        }
        item["Applications"] = applications;
        answer.append(item);
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, answer);
}

}  // namespace Branwick::Formats
