// A small synchronous HTTP client for the short text answers of the program's web services.
// One object makes one request: construct, SendRequest, then ReadAll or ReadChunk. Every failure
// is a thrown Corvane::Exception::CNetworkException whose message reads
// "<description>. Last error: <code>." with the WinHTTP error number of what went wrong (12002
// timed out, 12007 name not resolved, 12029 cannot connect, 12030 connection ended, 12152 invalid
// answer, 12017 aborted, 122 answer too large). Nothing is retried here; the caller decides.
//
// Blocking calls on the calling thread; one object is used by one thread at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Branwick {

// Receives the body of an answer piece by piece.
class IHttpDataSink {
public:
    virtual ~IHttpDataSink() = default;

    // nRead bytes at pBuffer (a buffer of nBufferSize bytes); nTotal bytes have been read so far,
    // this piece included; nContentLength is what the server announced, or -1 when it announced
    // nothing (a chunked answer). Returns true to go on reading.
    virtual bool OnData(const char* pBuffer, std::size_t nBufferSize, std::size_t nRead,
                        std::uint64_t nTotal, std::int64_t nContentLength) = 0;
};

// What one request may cost at most. A server that sends more, or that stays silent longer than
// the stall time-out at any point (connecting, before its headers, inside its body), fails the
// request instead of holding the caller; so does the abort flag, when given, once it turns true
// (checked every 50 ms; last error 12017, "cancelled").
struct SHttpLimits {
    std::uint64_t nMaxBodyBytes = 4 * 1024 * 1024;
    std::chrono::milliseconds stallTimeout{15000};
    const std::atomic<bool>* pAbort = nullptr;
};

class CHttpClient {
public:
    // The proxy: strProxyHost:nProxyPort when both are given (names without a dot, such as
    // "localhost", bypass it); otherwise the user's proxy environment (GetProxyConfiguration),
    // which loopback addresses always bypass. Throws code 0 when no transfer can be set up, code 4
    // when strServerHost is empty or nServerPort is 0. Nothing goes over the network yet.
    CHttpClient(std::wstring strUserAgent, std::wstring strServerHost, std::wstring strProxyHost,
                unsigned short nProxyPort, unsigned short nServerPort, SHttpLimits limits = {});
    virtual ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Sends the request for strObjectPath (it starts with '/') and waits for the answer's
    // headers. Code 1 when the request cannot be sent (no connection, bad path), code 3 when no
    // answer comes. Called once per object.
    virtual void SendRequest(const std::wstring& strObjectPath) = 0;

    // Hands the body to the sink in pieces of at most nChunkSize bytes until it ends or the sink
    // says stop. An empty body calls the sink never. Code 3 "Receiving data from server error."
    // when reading fails, the body is cut short or grows over the limit; code 3 "Available data
    // size is unknown." when the server's Content-Length is not a number. An answer without
    // Content-Length (chunked) is read to its end.
    virtual void ReadAll(IHttpDataSink& sink, std::size_t nChunkSize);

    // One read of at most 4096 bytes of the body; empty at its end. Fails as ReadAll does.
    virtual std::string ReadChunk();

    // The answer's HTTP status (200, 404, ...); 0 before SendRequest has returned.
    long GetStatusCode() const;

protected:
    // Starts a request of that method and waits for the answer's headers.
    void Send(const char* pszMethod, const std::wstring& strObjectPath);

private:
    struct STransfer;
    std::size_t Read(char* pBuffer, std::size_t nSize);

    std::wstring m_strServerHost;
    unsigned short m_nServerPort;
    std::unique_ptr<STransfer> m_pTransfer;
};

// A GET whose body is collected as text.
class CGetRequest : public CHttpClient, public IHttpDataSink {
public:
    using CHttpClient::CHttpClient;

    void SendRequest(const std::wstring& strObjectPath) override;
    bool OnData(const char* pBuffer, std::size_t nBufferSize, std::size_t nRead,
                std::uint64_t nTotal, std::int64_t nContentLength) override;

    // The body read so far as it came (UTF-8 from our services), and as text: a multi-byte
    // character split between two pieces is whole here, ill-formed bytes are U+FFFD.
    const std::string& GetResponseBytes() const { return m_strResponse; }
    std::wstring GetResponse() const;

private:
    std::string m_strResponse;
};

// The proxy the user set for plain HTTP: "http_proxy", else "HTTP_PROXY" ("host:port" or a URL),
// and the hosts that bypass it: "no_proxy", else "NO_PROXY" (comma-separated names, domains and
// addresses; "*" for all). Empty when unset.
struct SProxyConfiguration {
    std::string strProxy;
    std::string strBypass;
};
SProxyConfiguration GetProxyConfiguration();

}  // namespace Branwick
