#include "tools/FileFormatHelp/FormatServiceEndpoint.h"

#include "core/Text.h"

namespace Branwick {

CFormatServiceEndpoint::CFormatServiceEndpoint(std::wstring strConfiguredUrl,
                                               Formats::SCatalogOptions options)
    : m_strConfiguredUrl(std::move(strConfiguredUrl)), m_options(std::move(options)) {}

CFormatServiceEndpoint::~CFormatServiceEndpoint() = default;

Formats::SCatalogOptions CFormatServiceEndpoint::SystemCatalogOptions() {
    Formats::SCatalogOptions options;
    options.vDataDirs = Formats::SystemDataDirs();
    return options;
}

std::wstring CFormatServiceEndpoint::Url() {
    if (!m_strConfiguredUrl.empty()) {
        return m_strConfiguredUrl;
    }
    std::lock_guard lock(m_mutex);
    if (m_strOwnUrl.empty()) {
        m_pCatalog = std::make_unique<Formats::CFormatCatalog>(m_options);
        m_log.Open(L"FormatService.log");
        m_pServer = std::make_unique<Formats::CFormatServer>(
            *m_pCatalog, [this](const std::string& strLine) { m_log.Write(Utf8ToWide(strLine)); });
        const unsigned short nPort = m_pServer->Listen("127.0.0.1", 0);
        m_strOwnUrl = L"http://127.0.0.1:" + std::to_wstring(nPort);
    }
    return m_strOwnUrl;
}

}  // namespace Branwick
