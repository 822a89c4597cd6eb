// The file format service: answers "GET /extensions/EXT" with a JSON array, one object per file
// type that uses the extension, with the keys "Extension", "FileType", "Developer",
// "Description", "Image" (Base64 PNG, or null) and "Applications" (objects with "Name" and "Url",
// "Url" null when unknown).
//
// Its data are what the system installs, read once at start: the shared MIME database (types,
// names, parents, icon names), icon themes (PNG, or SVG rendered to PNG), the applications'
// .desktop files and their AppStream metadata (home pages), plus our own table of who develops
// each format. Requests never name a file: an extension is only ever a key into that data.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace Branwick::Formats {

struct SCatalogOptions {
    // Folders laid out like /usr/share (mime/, icons/, applications/, metainfo/); an earlier one
    // wins where two hold the same thing.
    std::vector<std::filesystem::path> vDataDirs;
    // Icon themes in order of preference; themes not named here come after them.
    std::vector<std::string> vThemes{"Adwaita", "hicolor"};
    int nIconSize = 48;
};

// The data folders of the system: $XDG_DATA_DIRS, else /usr/local/share and /usr/share.
std::vector<std::filesystem::path> SystemDataDirs();

// Whether an extension may be asked for: 1 to 64 characters of ASCII letters, digits, "+", "-",
// "_" and inner dots, never "..". Anything else is a bad request.
bool IsValidExtension(std::string_view strExtension);

// Standard Base64 with padding, as the answers carry pictures.
std::string EncodeBase64(std::string_view bytes);

// The catalog of file types, loaded at construction and read-only afterwards. Answers are built
// at their first request (an icon may need rendering) and kept. Thread-safe.
class CFormatCatalog {
public:
    explicit CFormatCatalog(SCatalogOptions options);
    ~CFormatCatalog();
    CFormatCatalog(const CFormatCatalog&) = delete;
    CFormatCatalog& operator=(const CFormatCatalog&) = delete;

    // The JSON answer for an extension (any case; a valid one); nullopt when no type uses it.
    std::optional<std::string> Answer(std::string_view strExtension) const;

    // Every extension known, upper case, sorted.
    std::vector<std::string> Extensions() const;

    struct SData;  // what was loaded

private:
    std::string BuildAnswer(const std::string& strExtension) const;

    std::unique_ptr<SData> m_pData;
    mutable std::mutex m_mutex;
    mutable std::map<std::string, std::string> m_answers;  // under m_mutex
};

// Receives one line per request the server refused, for its log.
using LogFunction = std::function<void(const std::string&)>;

// The service over HTTP (cpp-httplib), answering from a catalog on its own threads.
// 200 with the answer; 404 with "[]" for an unknown extension; 400, logged, for a bad one.
class CFormatServer {
public:
    CFormatServer(const CFormatCatalog& catalog, LogFunction log);
    ~CFormatServer();  // stops
    CFormatServer(const CFormatServer&) = delete;
    CFormatServer& operator=(const CFormatServer&) = delete;

    // Starts serving on strHost:nPort (0: a free port) and returns the port. Throws
    // std::runtime_error when the address cannot be taken.
    unsigned short Listen(const std::string& strHost, unsigned short nPort);
    // Stops serving and waits for the server's threads; a no-op when not serving.
    void Stop();

private:
    const CFormatCatalog& m_catalog;
    LogFunction m_log;
    std::unique_ptr<httplib::Server> m_pServer;
    std::thread m_thread;
};

// Writes every answer as the file DIR/extensions/EXT, so that a static web server can serve the
// whole service. Each file is replaced atomically. Returns how many were written; throws
// std::runtime_error naming the file that could not be.
std::size_t ExportFormats(const CFormatCatalog& catalog, const std::filesystem::path& dir);

}  // namespace Branwick::Formats
