#include "tools/http/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/Exceptions.h"
#include "core/Text.h"

namespace Branwick {

using Corvane::Exception::CNetworkException;

namespace {

constexpr int kCodeOpen = 0;
constexpr int kCodeSend = 1;
constexpr int kCodeReceive = 3;
constexpr int kCodeConnect = 4;

constexpr wchar_t kConnectionError[] = L"Internet connection error.";
constexpr wchar_t kSendError[] = L"An error occured by sending data to the server.";
constexpr wchar_t kReceiveError[] = L"Receiving data from server error.";
constexpr wchar_t kSizeUnknown[] = L"Available data size is unknown.";

// The WinHTTP errors that the log lines and messages of the program name.
constexpr long kErrorTimeout = 12002;
constexpr long kErrorNameNotResolved = 12007;
constexpr long kErrorCannotConnect = 12029;
constexpr long kErrorConnectionAborted = 12030;
constexpr long kErrorInvalidResponse = 12152;
constexpr long kErrorTooLarge = 122;
constexpr long kErrorCancelled = 12017;

constexpr std::size_t kChunkReadSize = 4096;
constexpr auto kPollStep = std::chrono::milliseconds(50);

[[noreturn]] void Throw(int nCode, const wchar_t* pszDescription, long nLastError) {
    throw CNetworkException(nCode,
                            FormatText(L"%ls. Last error: %ld.", pszDescription, nLastError));
}

long LastErrorOf(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrorNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrorCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kErrorTimeout;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
            return kErrorInvalidResponse;
        default:
            return kErrorConnectionAborted;
    }
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string GetEnv(const char* pszFirst, const char* pszSecond) {
    for (const char* pszName : {pszFirst, pszSecond}) {
        if (const char* pszValue = std::getenv(pszName); pszValue != nullptr && *pszValue) {
            return pszValue;
        }
    }
    return {};
}

bool IsLoopback(const std::string& strHost) {
    return strHost == "localhost" || strHost == "::1" || strHost == "[::1]" ||
           strHost.starts_with("127.");
}

// A host name in a URL: an IPv6 address goes in brackets.
std::string UrlHost(const std::string& strHost) {
    return strHost.find(':') != std::string::npos && !strHost.starts_with('[')
               ? "[" + strHost + "]"
               : strHost;
}

}  // namespace

SProxyConfiguration GetProxyConfiguration() {
    return {GetEnv("http_proxy", "HTTP_PROXY"), GetEnv("no_proxy", "NO_PROXY")};
}

// One libcurl transfer driven step by step through a multi handle, so that the body can be
// pulled piece by piece while the time-out watches every silence.
struct CHttpClient::STransfer {
    CURL* pEasy = nullptr;
    CURLM* pMulti = nullptr;
    SHttpLimits limits;
    std::string strUrlBase;
    std::string strProxy;
    std::string strBypass;
    std::string strUserAgent;

    bool bHeadersDone = false;
    bool bFinished = false;
    CURLcode result = CURLE_OK;
    bool bTooLarge = false;
    bool bAborted = false;
    long nStatus = 0;
    std::string strPending;  // body bytes received and not yet handed out
    std::size_t nPendingOffset = 0;
    std::uint64_t nReceived = 0;
    std::chrono::steady_clock::time_point lastActivity;

    ~STransfer() {
        if (pMulti != nullptr && pEasy != nullptr) {
            curl_multi_remove_handle(pMulti, pEasy);
        }
        if (pEasy != nullptr) {
            curl_easy_cleanup(pEasy);
        }
        if (pMulti != nullptr) {
            curl_multi_cleanup(pMulti);
        }
    }

    static std::size_t OnHeader(char* pData, std::size_t nSize, std::size_t nCount, void* pSelf) {
        auto* pThis = static_cast<STransfer*>(pSelf);
        pThis->lastActivity = std::chrono::steady_clock::now();
        const std::string_view line(pData, nSize * nCount);
        if (line == "\r\n" || line == "\n") {
            long nStatus = 0;
            curl_easy_getinfo(pThis->pEasy, CURLINFO_RESPONSE_CODE, &nStatus);
            // An interim answer (100 Continue) is followed by the real one.
            if (nStatus >= 200) {
                pThis->nStatus = nStatus;
                pThis->bHeadersDone = true;
            }
        }
        return nSize * nCount;
    }

    static std::size_t OnBody(char* pData, std::size_t nSize, std::size_t nCount, void* pSelf) {
        auto* pThis = static_cast<STransfer*>(pSelf);
        const std::size_t nBytes = nSize * nCount;
        pThis->lastActivity = std::chrono::steady_clock::now();
        pThis->nReceived += nBytes;
        if (pThis->nReceived > pThis->limits.nMaxBodyBytes) {
            pThis->bTooLarge = true;
            return 0;  // makes libcurl end the transfer with a write error
        }
        pThis->strPending.append(pData, nBytes);
        return nBytes;
    }

    // Runs the transfer until `done()` holds or the transfer ends; false when the server stayed
    // silent for longer than the stall time-out, or the caller aborted (bAborted).
    template <typename Done>
    bool RunUntil(Done done) {
        while (!done() && !bFinished) {
            int nRunning = 0;
            curl_multi_perform(pMulti, &nRunning);
            int nLeft = 0;
            while (CURLMsg* pMsg = curl_multi_info_read(pMulti, &nLeft)) {
                if (pMsg->msg == CURLMSG_DONE) {
                    bFinished = true;
                    result = pMsg->data.result;
                }
            }
            if (done() || bFinished) {
                break;
            }
            if (limits.pAbort != nullptr && *limits.pAbort) {
                bAborted = true;
                return false;
            }
            if (std::chrono::steady_clock::now() - lastActivity > limits.stallTimeout) {
                return false;
            }
            curl_multi_poll(pMulti, nullptr, 0, static_cast<int>(kPollStep.count()), nullptr);
        }
        return true;
    }

    // Whether a connection (to the server or its proxy) stands and the request could go out.
    bool Connected() const {
        curl_off_t nPretransfer = 0;
        curl_off_t nConnect = 0;
        curl_easy_getinfo(pEasy, CURLINFO_PRETRANSFER_TIME_T, &nPretransfer);
        curl_easy_getinfo(pEasy, CURLINFO_CONNECT_TIME_T, &nConnect);
        return nPretransfer > 0 || nConnect > 0;
    }
};

CHttpClient::CHttpClient(std::wstring strUserAgent, std::wstring strServerHost,
                         std::wstring strProxyHost, unsigned short nProxyPort,
                         unsigned short nServerPort, SHttpLimits limits)
    : m_strServerHost(std::move(strServerHost)), m_nServerPort(nServerPort) {
    InitCurlOnce();
    auto pTransfer = std::make_unique<STransfer>();
    pTransfer->limits = limits;
    pTransfer->pEasy = curl_easy_init();
    pTransfer->pMulti = curl_multi_init();
    if (pTransfer->pEasy == nullptr || pTransfer->pMulti == nullptr) {
        Throw(kCodeOpen, kConnectionError, kErrorCannotConnect);
    }
    const std::string strHost = WideToUtf8(m_strServerHost);
    if (strHost.empty() || nServerPort == 0) {
        Throw(kCodeConnect, kConnectionError, kErrorNameNotResolved);
    }
    pTransfer->strUrlBase = "http://" + UrlHost(strHost) + ":" + std::to_string(nServerPort);
    pTransfer->strUserAgent = WideToUtf8(strUserAgent);
    if (!strProxyHost.empty() && nProxyPort != 0) {
        const bool bLocalName = strHost.find('.') == std::string::npos;
        pTransfer->strProxy = bLocalName ? "" : UrlHost(WideToUtf8(strProxyHost)) + ":" +
                                                    std::to_string(nProxyPort);
    } else if (!IsLoopback(strHost)) {
        // Our own service on loopback is never reached through a proxy: one elsewhere cannot.
        SProxyConfiguration configuration = GetProxyConfiguration();
        pTransfer->strProxy = std::move(configuration.strProxy);
        pTransfer->strBypass = std::move(configuration.strBypass);
    }
    m_pTransfer = std::move(pTransfer);
}

CHttpClient::~CHttpClient() = default;

long CHttpClient::GetStatusCode() const {
    return m_pTransfer->nStatus;
}

void CHttpClient::Send(const char* pszMethod, const std::wstring& strObjectPath) {
    STransfer& transfer = *m_pTransfer;
    const std::string strPath = WideToUtf8(strObjectPath);
    if (!strPath.starts_with('/') || transfer.bHeadersDone) {
        Throw(kCodeSend, kSendError, 87);
    }
    const std::string strUrl = transfer.strUrlBase + strPath;
    CURL* pEasy = transfer.pEasy;
    curl_easy_setopt(pEasy, CURLOPT_URL, strUrl.c_str());
    curl_easy_setopt(pEasy, CURLOPT_CUSTOMREQUEST, pszMethod);
    curl_easy_setopt(pEasy, CURLOPT_USERAGENT, transfer.strUserAgent.c_str());
    // Set even when empty: an empty proxy switches off libcurl's own reading of the environment,
    // which ignores HTTP_PROXY and would not know our loopback rule.
    curl_easy_setopt(pEasy, CURLOPT_PROXY, transfer.strProxy.c_str());
    curl_easy_setopt(pEasy, CURLOPT_NOPROXY, transfer.strBypass.c_str());
    curl_easy_setopt(pEasy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(pEasy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(pEasy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(transfer.limits.stallTimeout.count()));
    curl_easy_setopt(pEasy, CURLOPT_HEADERFUNCTION, &STransfer::OnHeader);
    curl_easy_setopt(pEasy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(pEasy, CURLOPT_WRITEFUNCTION, &STransfer::OnBody);
    curl_easy_setopt(pEasy, CURLOPT_WRITEDATA, &transfer);
    if (curl_multi_add_handle(transfer.pMulti, pEasy) != CURLM_OK) {
        Throw(kCodeSend, kSendError, kErrorConnectionAborted);
    }
    transfer.lastActivity = std::chrono::steady_clock::now();
    const bool bAnswered = transfer.RunUntil([&] { return transfer.bHeadersDone; });
    if (!transfer.bHeadersDone) {
        // Failing before the request went out is a failure to send; after it, to receive.
        const bool bSendFailed = !transfer.Connected() || transfer.result == CURLE_SEND_ERROR;
        Throw(bSendFailed ? kCodeSend : kCodeReceive, bSendFailed ? kSendError : kReceiveError,
              bAnswered ? LastErrorOf(transfer.result)
                        : (transfer.bAborted ? kErrorCancelled : kErrorTimeout));
    }
}

std::size_t CHttpClient::Read(char* pBuffer, std::size_t nSize) {
    STransfer& transfer = *m_pTransfer;
    if (!transfer.bHeadersDone) {
        Throw(kCodeReceive, kReceiveError, kErrorInvalidResponse);
    }
    const auto hasData = [&] { return transfer.nPendingOffset < transfer.strPending.size(); };
    if (!transfer.RunUntil(hasData)) {
        Throw(kCodeReceive, kReceiveError, transfer.bAborted ? kErrorCancelled : kErrorTimeout);
    }
    if (!hasData()) {
        if (transfer.bTooLarge) {
            Throw(kCodeReceive, kReceiveError, kErrorTooLarge);
        }
        if (transfer.result != CURLE_OK) {
            Throw(kCodeReceive, kReceiveError, LastErrorOf(transfer.result));
        }
        return 0;
    }
    const std::size_t nCount = std::min(nSize, transfer.strPending.size() - transfer.nPendingOffset);
    std::memcpy(pBuffer, transfer.strPending.data() + transfer.nPendingOffset, nCount);
    transfer.nPendingOffset += nCount;
    if (transfer.nPendingOffset == transfer.strPending.size()) {
        transfer.strPending.clear();
        transfer.nPendingOffset = 0;
    }
    return nCount;
}

void CHttpClient::ReadAll(IHttpDataSink& sink, std::size_t nChunkSize) {
    STransfer& transfer = *m_pTransfer;
    std::int64_t nContentLength = -1;
    curl_header* pHeader = nullptr;
    if (transfer.bHeadersDone &&
        curl_easy_header(transfer.pEasy, "Content-Length", 0, CURLH_HEADER, -1, &pHeader) ==
            CURLHE_OK) {
        const std::string_view value(pHeader->value);
        const auto [pEnd, error] =
            std::from_chars(value.data(), value.data() + value.size(), nContentLength);
        if (error != std::errc() || pEnd != value.data() + value.size() || nContentLength < 0) {
            Throw(kCodeReceive, kSizeUnknown, kErrorInvalidResponse);
        }
        if (static_cast<std::uint64_t>(nContentLength) > transfer.limits.nMaxBodyBytes) {
            Throw(kCodeReceive, kReceiveError, kErrorTooLarge);
        }
    }
    const std::unique_ptr<char[]> pBuffer(new char[std::max<std::size_t>(nChunkSize, 1)]);
    std::uint64_t nTotal = 0;
    for (;;) {
        const std::size_t nRead = Read(pBuffer.get(), std::max<std::size_t>(nChunkSize, 1));
        nTotal += nRead;
        if (nRead == 0 || !sink.OnData(pBuffer.get(), nChunkSize, nRead, nTotal, nContentLength)) {
            break;
        }
    }
}

std::string CHttpClient::ReadChunk() {
    std::string buffer(kChunkReadSize, '\0');
    buffer.resize(Read(buffer.data(), buffer.size()));
    return buffer;
}

void CGetRequest::SendRequest(const std::wstring& strObjectPath) {
    Send("GET", strObjectPath);
}

bool CGetRequest::OnData(const char* pBuffer, std::size_t, std::size_t nRead, std::uint64_t,
                         std::int64_t) {
    m_strResponse.append(pBuffer, nRead);
    return true;
}

std::wstring CGetRequest::GetResponse() const {
    return Utf8ToWide(m_strResponse);
}

}  // namespace Branwick
