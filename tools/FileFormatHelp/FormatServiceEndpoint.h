// Which format service the look-ups ask: the shared one whose address the settings hold, or,
// when they hold none, the service of our own, started inside the program at its first need on
// a free loopback port and asked over HTTP like any other.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "core/Log.h"
#include "tools/FormatService/FormatService.h"

namespace Branwick {

class CFormatServiceEndpoint {
public:
    // strConfiguredUrl: the settings' address, empty for the service of our own, which then
    // reads its data as `options` say.
    explicit CFormatServiceEndpoint(std::wstring strConfiguredUrl,
                                    Formats::SCatalogOptions options = SystemCatalogOptions());
    ~CFormatServiceEndpoint();
    CFormatServiceEndpoint(const CFormatServiceEndpoint&) = delete;
    CFormatServiceEndpoint& operator=(const CFormatServiceEndpoint&) = delete;

    // The address to ask, "http://HOST:PORT". The first call without a configured address loads
    // the data and starts serving; throws std::runtime_error when no loopback port can be had.
    // Thread-safe.
    std::wstring Url();

    static Formats::SCatalogOptions SystemCatalogOptions();

private:
    std::wstring m_strConfiguredUrl;
    Formats::SCatalogOptions m_options;
    std::mutex m_mutex;
    std::wstring m_strOwnUrl;
    CLogFile m_log;  // the refused requests of our own service
    std::unique_ptr<Formats::CFormatCatalog> m_pCatalog;
    std::unique_ptr<Formats::CFormatServer> m_pServer;  // after the catalog: stops before it goes
};

}  // namespace Branwick
