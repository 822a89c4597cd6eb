#include "platform/discovery/discovery.h"

#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <set>

#include <json/json.h>

#include "platform/desktop/desktop.h"
#include "platform/registry/wineserver.h"

namespace Branwick::Platform {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* pszName) {
    const char* p = std::getenv(pszName);
    return p != nullptr ? p : "";
}

// The folders directly in dir, sorted by name; none when dir cannot be read.
std::vector<fs::path> SubFolders(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ecType;
        if (it->is_directory(ecType)) {
            out.push_back(it->path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The files directly in dir whose names end in strSuffix, sorted.
std::vector<fs::path> FilesEndingIn(const fs::path& dir, const std::string& strSuffix) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code ecType;
        if (name.size() > strSuffix.size() && name.ends_with(strSuffix) && it->is_regular_file(ecType)) {
            out.push_back(it->path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string ReadFile(const fs::path& file, std::size_t nMax = 1 << 20) {
    std::ifstream in(file, std::ios::binary);
    std::string text(nMax, '\0');
    in.read(text.data(), static_cast<std::streamsize>(nMax));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// dir/name, the entry's own spelling when only its case differs (a Windows volume mounted on a
// case-sensitive file system keeps Windows' spelling, which varies between versions).
std::optional<fs::path> ChildNoCase(const fs::path& dir, const std::string& strName) {
    std::error_code ec;
    if (fs::exists(dir / strName, ec)) {
        return dir / strName;
    }
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (EqualsNoCase(it->path().filename().string(), strName)) {
            return it->path();
        }
    }
    return std::nullopt;
}

std::optional<fs::path> PathNoCase(fs::path dir, std::initializer_list<const char*> names) {
    for (const char* pszName : names) {
        const std::optional<fs::path> next = ChildNoCase(dir, pszName);
        if (!next) {
            return std::nullopt;
        }
        dir = *next;
    }
    return dir;
}

bool IsPrefix(const fs::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / "system.reg", ec);
}

// Proton and some launchers name the folder around the prefix ("…/pfx" inside).
std::optional<fs::path> PrefixIn(const fs::path& folder) {
    if (IsPrefix(folder)) {
        return folder;
    }
    if (IsPrefix(folder / "pfx")) {
        return folder / "pfx";
    }
    return std::nullopt;
}

bool PrefixIs64Bit(const fs::path& prefix) {
    std::ifstream in(prefix / "system.reg");
    std::string line;
    for (int n = 0; n < 8 && std::getline(in, line); ++n) {
        if (line.rfind("#arch=", 0) == 0) {
            return line.compare(6, 5, "win64") == 0;
        }
    }
    return false;
}

// What the files below folder take, without following links: a prefix's z: drive is "/".
std::uint64_t TreeBytes(const fs::path& folder) {
    std::uint64_t nBytes = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code ecEntry;
        if (it->is_regular_file(ecEntry) && !it->is_symlink(ecEntry)) {
            const std::uintmax_t n = it->file_size(ecEntry);
            nBytes += ecEntry ? 0 : n;
        }
    }
    return nBytes;
}

std::uint64_t VolumeUsedBytes(const fs::path& mount) {
    struct statvfs st {};
    if (statvfs(mount.c_str(), &st) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(st.f_blocks - st.f_bfree) * st.f_frsize;
}

std::string Trim(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) {
        return {};
    }
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

std::string ExpandHome(std::string strPath, const std::string& strHome) {
    if (strPath == "~" || strPath.rfind("~/", 0) == 0) {
        strPath = strHome + strPath.substr(1);
    }
    return strPath;
}

// The quoted tokens of each line of a Valve KeyValues file, as ("key", "value") pairs where a
// line has two; "\\" in a token is one backslash.
std::vector<std::pair<std::string, std::string>> VdfPairs(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t nLine = 0;
    while (nLine < text.size()) {
        const std::size_t nEnd = std::min(text.find('\n', nLine), text.size());
        std::vector<std::string> tokens;
        for (std::size_t i = nLine; i < nEnd; ++i) {
            if (text[i] != '"') {
                continue;
            }
            std::string token;
            for (++i; i < nEnd && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < nEnd) {
                    ++i;
                }
                token += text[i];
            }
            tokens.push_back(token);
        }
        if (tokens.size() == 2) {
            pairs.emplace_back(tokens[0], tokens[1]);
        }
        nLine = nEnd + 1;
    }
    return pairs;
}

std::string VdfValue(const fs::path& file, const std::string& strKey) {
    for (const auto& [key, value] : VdfPairs(ReadFile(file))) {
        if (EqualsNoCase(key, strKey)) {
            return value;
        }
    }
    return {};
}

class CCollector {
public:
    explicit CCollector(const SDiscoveryRoots& roots) : m_roots(roots) {}

    void AddPrefix(const fs::path& folder, const std::string& strSource, const std::string& strName) {
        const std::optional<fs::path> prefix = PrefixIn(folder);
        if (!prefix || !FirstTime(*prefix)) {
            return;
        }
        SFoundTarget found;
        found.strSource = strSource;
        found.strName = strName.empty() ? prefix->filename().string() : strName;
        found.strFolder = prefix->string();
        found.b64Bit = PrefixIs64Bit(*prefix);
        found.nBytes = m_roots.bSizes ? TreeBytes(*prefix) : 0;
        found.bServerRunning = !Reg::FindRunningWineserver(found.strFolder).empty();
        m_found.push_back(std::move(found));
    }

    void AddVolume(const fs::path& mount) {
        if (!PathNoCase(mount, {"Windows", "System32", "config", "SOFTWARE"}) || !FirstTime(mount)) {
            return;
        }
        SFoundTarget found;
        found.eKind = EFoundKind::WindowsVolume;
        found.strSource = "Mounted volume";
        found.strName = mount.filename().string();
        found.strFolder = mount.string();
        found.b64Bit = PathNoCase(mount, {"Windows", "SysWOW64"}).has_value();
        found.nBytes = m_roots.bSizes ? VolumeUsedBytes(mount) : 0;
        if (const std::optional<fs::path> users = ChildNoCase(mount, "Users")) {
            for (const fs::path& user : SubFolders(*users)) {
                if (ChildNoCase(user, "NTUSER.DAT")) {
                    found.vcUsers.push_back(user.filename().string());
                }
            }
        }
        m_found.push_back(std::move(found));
    }

    std::vector<SFoundTarget> Take() { return std::move(m_found); }

private:
    bool FirstTime(const fs::path& folder) {
        std::error_code ec;
        const fs::path real = fs::weakly_canonical(folder, ec);
        return m_seen.insert(ec ? folder.string() : real.string()).second;
    }

    const SDiscoveryRoots& m_roots;
    std::vector<SFoundTarget> m_found;
    std::set<std::string> m_seen;
};

void AddSteam(CCollector& out, const SDiscoveryRoots& r) {
    const fs::path home = r.strHome;
    std::vector<fs::path> libraries;
    for (const fs::path& root : {home / ".steam/steam", fs::path(r.strDataHome) / "Steam",
                                 home / ".var/app/com.valvesoftware.Steam/.local/share/Steam"}) {
        libraries.push_back(root);
        for (const char* pszList : {"steamapps/libraryfolders.vdf", "config/libraryfolders.vdf"}) {
            for (const auto& [key, value] : VdfPairs(ReadFile(root / pszList))) {
                if (key == "path") {
                    libraries.emplace_back(value);
                }
            }
        }
    }
    for (const fs::path& library : libraries) {
        const fs::path apps = library / "steamapps";
        for (const fs::path& game : SubFolders(apps / "compatdata")) {
            const std::string strId = game.filename().string();
            std::string strName = VdfValue(apps / ("appmanifest_" + strId + ".acf"), "name");
            out.AddPrefix(game / "pfx", "Steam", strName.empty() ? "Steam app " + strId : strName);
        }
    }
}

void AddLutris(CCollector& out, const SDiscoveryRoots& r) {
    for (const fs::path& file : FilesEndingIn(fs::path(r.strConfigHome) / "lutris/games", ".yml")) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            const std::string t = Trim(line);
            if (t.rfind("prefix:", 0) != 0) {
                continue;
            }
            std::string value = Trim(t.substr(7));
            if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
                value = value.substr(1, value.size() - 2);
            }
            if (!value.empty()) {
                out.AddPrefix(ExpandHome(value, r.strHome), "Lutris", file.stem().string());
            }
        }
    }
}

void AddHeroic(CCollector& out, const SDiscoveryRoots& r) {
    const fs::path home = r.strHome;
    for (const fs::path& folder : SubFolders(home / "Games/Heroic/Prefixes")) {
        out.AddPrefix(folder, "Heroic", "");
        for (const fs::path& inner : SubFolders(folder)) {
            out.AddPrefix(inner, "Heroic", "");
        }
    }
    for (const fs::path& configs : {fs::path(r.strConfigHome) / "heroic/GamesConfig",
                                    home / ".var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig"}) {
        for (const fs::path& file : FilesEndingIn(configs, ".json")) {
            Json::Value root;
            Json::CharReaderBuilder builder;
            std::string strErrors;
            std::istringstream in(ReadFile(file));
            if (!Json::parseFromStream(builder, in, &root, &strErrors) || !root.isObject()) {
                continue;
            }
            for (const std::string& game : root.getMemberNames()) {
                const Json::Value& prefix = root[game].isObject() ? root[game]["winePrefix"] : Json::Value();
                if (prefix.isString() && !prefix.asString().empty()) {
                    out.AddPrefix(ExpandHome(prefix.asString(), r.strHome), "Heroic", game);
                }
            }
        }
    }
}

void AddEachIn(CCollector& out, const fs::path& dir, const std::string& strSource) {
    for (const fs::path& folder : SubFolders(dir)) {
        out.AddPrefix(folder, strSource, "");
    }
}

void AddVolumes(CCollector& out, const SDiscoveryRoots& r) {
    for (const std::string& strRoot : r.vcMountRoots) {
        for (const fs::path& mount : SubFolders(strRoot)) {
            out.AddVolume(mount);
            // /media/<user>/<label>, /run/media/<user>/<label>
            for (const fs::path& inner : SubFolders(mount)) {
                out.AddVolume(inner);
            }
        }
    }
}

}  // namespace

SDiscoveryRoots SDiscoveryRoots::FromEnvironment() {
    SDiscoveryRoots r;
    r.strHome = Env("HOME");
    if (r.strHome.empty()) {
        if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
            r.strHome = pw->pw_dir;
        }
    }
    r.strWinePrefix = Env("WINEPREFIX");
    r.strConfigHome = ConfigHome();
    r.strDataHome = DataHome();
    r.vcMountRoots = {"/media", "/run/media", "/mnt"};
    return r;
}

std::vector<SFoundTarget> DiscoverTargets(const SDiscoveryRoots& r) {
    CCollector out(r);
    const fs::path home = r.strHome;
    if (!r.strWinePrefix.empty()) {
        out.AddPrefix(r.strWinePrefix, "WINEPREFIX", "");
    }
    if (!r.strHome.empty()) {
        out.AddPrefix(home / ".wine", "Wine", "");
    }
    AddEachIn(out, fs::path(r.strDataHome) / "wineprefixes", "winetricks");
    AddSteam(out, r);
    AddLutris(out, r);
    AddEachIn(out, fs::path(r.strDataHome) / "bottles/bottles", "Bottles");
    AddEachIn(out, home / ".var/app/com.usebottles.bottles/data/bottles/bottles", "Bottles");
    AddHeroic(out, r);
    AddEachIn(out, home / ".PlayOnLinux/wineprefix", "PlayOnLinux");
    AddEachIn(out, home / ".cxoffice", "CrossOver");
    AddVolumes(out, r);
    return out.Take();
}

const char* FoundKindName(EFoundKind eKind) {
    return eKind == EFoundKind::WinePrefix ? "Wine prefix" : "Windows volume";
}

}  // namespace Branwick::Platform
