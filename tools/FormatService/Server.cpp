#include <httplib.h>

#include <stdexcept>

#include "tools/FormatService/FormatService.h"

namespace Branwick::Formats {

namespace {

constexpr std::size_t kLoggedPathLength = 120;
constexpr char kJson[] = "application/json; charset=utf-8";

// What a log line may show of a request path: printable ASCII, the rest escaped, cut short.
std::string Printable(std::string_view text) {
    std::string shown;
    for (const unsigned char c : text.substr(0, kLoggedPathLength)) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 0xF];
        }
    }
    if (text.size() > kLoggedPathLength) {
        shown += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return shown;
}

}  // namespace

CFormatServer::CFormatServer(const CFormatCatalog& catalog, LogFunction log)
    : m_catalog(catalog), m_log(std::move(log)) {}

CFormatServer::~CFormatServer() {
    Stop();
}

unsigned short CFormatServer::Listen(const std::string& strHost, unsigned short nPort) {
    Stop();
    auto pServer = std::make_unique<httplib::Server>();
    // Answers are small and go out in two writes (headers, body): with Nagle's algorithm the
    // second waits for the client's delayed acknowledgement, some 40 ms per request.
    pServer->set_tcp_nodelay(true);
    const auto refuse = [this](const httplib::Request& request, httplib::Response& response,
                               const std::string& strWhat) {
        response.status = 400;
        response.set_content("Bad request\n", "text/plain");
        if (m_log) {
            m_log("Bad request from " + request.remote_addr + ": " + strWhat);
        }
    };
    pServer->Get("/extensions/(.*)", [this, refuse](const httplib::Request& request,
                                                    httplib::Response& response) {
        const std::string& strExtension = request.matches[1];
        if (!IsValidExtension(strExtension)) {
            refuse(request, response, "extension \"" + Printable(strExtension) + "\"");
            return;
        }
        const std::optional<std::string> answer = m_catalog.Answer(strExtension);
        response.status = answer ? 200 : 404;
        response.set_content(answer ? *answer : "[]", kJson);
    });
    // cpp-httplib answers an overlong request line itself with 414 before any route sees it;
    // it is a bad request like any other here.
    pServer->set_error_handler([refuse](const httplib::Request& request,
                                        httplib::Response& response) {
        if (response.status == 414) {
            refuse(request, response, "request line too long");
        }
    });
    const int nBound = nPort == 0 ? pServer->bind_to_any_port(strHost)
                                  : (pServer->bind_to_port(strHost, nPort) ? nPort : -1);
    if (nBound <= 0) {
        throw std::runtime_error("cannot listen on " + strHost + ":" + std::to_string(nPort));
    }
    m_pServer = std::move(pServer);
    m_thread = std::thread([pServer = m_pServer.get()] { pServer->listen_after_bind(); });
    return static_cast<unsigned short>(nBound);
}

void CFormatServer::Stop() {
    if (m_pServer) {
        m_pServer->stop();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_pServer.reset();
}

}  // namespace Branwick::Formats
