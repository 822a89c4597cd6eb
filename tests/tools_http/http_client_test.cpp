#include "tools/http/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "tests/support/http_server.h"

namespace {

using Branwick::CGetRequest;
using Branwick::SHttpLimits;
using Corvane::Exception::CNetworkException;
using CorvaneTest::CLoopbackServer;
using CorvaneTest::CRawListener;

constexpr wchar_t kAgent[] = L"Cor Vanes";

SHttpLimits QuickLimits() {
    SHttpLimits limits;
    limits.stallTimeout = std::chrono::milliseconds(300);
    return limits;
}

// The code and message of what the request threw; code -1 when it threw nothing.
struct SFailure {
    int nCode = -1;
    std::string strMessage;
};

template <typename Action>
SFailure FailureOf(Action action) {
    try {
        action();
    } catch (const CNetworkException& e) {
        return {e.GetCode(), e.what()};
    }
    return {};
}

// A GET of strPath from 127.0.0.1:nPort through the whole client: send, ReadAll in 512-byte chunks.
std::string Get(unsigned short nPort, const std::wstring& strPath,
                SHttpLimits limits = QuickLimits()) {
    CGetRequest request(kAgent, L"127.0.0.1", L"", 0, nPort, limits);
    request.SendRequest(strPath);
    request.ReadAll(request, 512);
    return request.GetResponseBytes();
}

// Keeps the proxy environment of the test from leaking into others.
class ProxyEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* pszName : kNames) {
            unsetenv(pszName);
        }
    }
    void TearDown() override { SetUp(); }
    static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"};
};

// A forward proxy: takes requests in absolute form, remembers their targets, fetches them from
// the origin and hands the answer back with a mark of its own.
class CForwardProxy {
public:
    CForwardProxy() {
        m_server.Server().Get(".*", [this](const httplib::Request& request,
                                            httplib::Response& response) {
            {
                std::lock_guard lock(m_mutex);
                m_vTargets.push_back(request.target);
            }
            const std::string strPrefix = "http://";
            const std::size_t nPathStart = request.target.find('/', strPrefix.size());
            if (!request.target.starts_with(strPrefix) || nPathStart == std::string::npos) {
                response.status = 400;
                return;
            }
            httplib::Client origin(request.target.substr(0, nPathStart));
            const httplib::Result result = origin.Get(request.target.substr(nPathStart));
            if (!result) {
                response.status = 502;
                response.set_content("proxy could not reach origin", "text/plain");
                return;
            }
            response.status = result->status;
            response.set_content("via proxy: " + result->body, "text/plain");
        });
        m_server.Start();
    }
    unsigned short Port() const { return m_server.Port(); }
    std::vector<std::string> Targets() {
        std::lock_guard lock(m_mutex);
        return m_vTargets;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_vTargets;
    CLoopbackServer m_server;  // last: it stops before what its handler touches goes
};

TEST(HttpClient, SendsGetWithAgentAndReadsAnswer) {
    CLoopbackServer server;
    std::string strAgent;
    server.Server().Get("/extensions/DOC", [&](const httplib::Request& request,
                                               httplib::Response& response) {
        strAgent = request.get_header_value("User-Agent");
        response.set_content("[{\"FileType\":\"Word \xC3\xA9\"}]", "application/json");
    });
    server.Server().Get("/empty", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("", "text/plain");
    });
    const unsigned short nPort = server.Start();

    CGetRequest request(kAgent, L"127.0.0.1", L"", 0, nPort, QuickLimits());
    request.SendRequest(L"/extensions/DOC");
    EXPECT_EQ(request.GetStatusCode(), 200);
    request.ReadAll(request, 5);  // small chunks: the é is split between two of them
    EXPECT_EQ(request.GetResponse(), L"[{\"FileType\":\"Word \u00E9\"}]");
    EXPECT_EQ(strAgent, "Cor Vanes");

    // An empty body never reaches the sink.
    struct CCountingSink : Branwick::IHttpDataSink {
        int nCalls = 0;
        bool OnData(const char*, std::size_t, std::size_t, std::uint64_t, std::int64_t) override {
            return ++nCalls > 0;
        }
    } sink;
    CGetRequest empty(kAgent, L"127.0.0.1", L"", 0, nPort, QuickLimits());
    empty.SendRequest(L"/empty");
    empty.ReadAll(sink, 512);
    EXPECT_EQ(sink.nCalls, 0);
}

TEST(HttpClient, ChunkedAnswerWithoutLengthIsReadToItsEnd) {
    CLoopbackServer server;
    const std::string strPiece(1000, 'x');
    server.Server().Get("/chunked", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "text/plain", [&, nSent = 0](std::size_t, httplib::DataSink& sink) mutable {
                if (nSent++ < 5) {
                    sink.write(strPiece.data(), strPiece.size());
                } else {
                    sink.done();
                }
                return true;
            });
    });
    const unsigned short nPort = server.Start();

    std::vector<std::int64_t> vAnnounced;
    struct CSink : Branwick::IHttpDataSink {
        std::vector<std::int64_t>* pAnnounced;
        std::uint64_t nLastTotal = 0;
        bool OnData(const char*, std::size_t, std::size_t, std::uint64_t nTotal,
                    std::int64_t nLength) override {
            pAnnounced->push_back(nLength);
            nLastTotal = nTotal;
            return true;
        }
    } sink;
    sink.pAnnounced = &vAnnounced;
    CGetRequest request(kAgent, L"127.0.0.1", L"", 0, nPort, QuickLimits());
    request.SendRequest(L"/chunked");
    request.ReadAll(sink, 512);
    EXPECT_EQ(sink.nLastTotal, 5000u);
    ASSERT_FALSE(vAnnounced.empty());
    EXPECT_EQ(vAnnounced.front(), -1);

    // ReadChunk pulls the same body in pieces of at most 4096 bytes.
    CGetRequest chunks(kAgent, L"127.0.0.1", L"", 0, nPort, QuickLimits());
    chunks.SendRequest(L"/chunked");
    std::string strBody;
    for (std::string strChunk; !(strChunk = chunks.ReadChunk()).empty();) {
        EXPECT_LE(strChunk.size(), 4096u);
        strBody += strChunk;
    }
    EXPECT_EQ(strBody, std::string(5000, 'x'));
}

TEST(HttpClient, OversizedAnswersFailWhetherAnnouncedOrNot) {
    CLoopbackServer server;
    server.Server().Get("/announced", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(2000, 'a'), "text/plain");
    });
    server.Server().Get("/endless", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "text/plain", [](std::size_t, httplib::DataSink& sink) {
                const std::string strPiece(700, 'b');
                return sink.write(strPiece.data(), strPiece.size());
            });
    });
    const unsigned short nPort = server.Start();
    SHttpLimits limits = QuickLimits();
    limits.nMaxBodyBytes = 1500;
    for (const wchar_t* pszPath : {L"/announced", L"/endless"}) {
        const SFailure failure = FailureOf([&] { Get(nPort, pszPath, limits); });
        EXPECT_EQ(failure.nCode, 3) << Branwick::WideToUtf8(pszPath);
        EXPECT_EQ(failure.strMessage, "Receiving data from server error.. Last error: 122.");
    }
}

TEST(HttpClient, BrokenServersGiveNetworkExceptions) {
    {
        const CRawListener silent(false);
        const SFailure failure = FailureOf([&] { Get(silent.Port(), L"/extensions/DOC"); });
        EXPECT_EQ(failure.nCode, 3);
        EXPECT_EQ(failure.strMessage, "Receiving data from server error.. Last error: 12002.");
    }
    {
        const CRawListener closing(true);
        const SFailure failure = FailureOf([&] { Get(closing.Port(), L"/extensions/DOC"); });
        EXPECT_EQ(failure.nCode, 3);
        EXPECT_EQ(failure.strMessage, "Receiving data from server error.. Last error: 12030.");
    }
    {
        const SFailure failure = FailureOf([] { Get(CorvaneTest::DeadPort(), L"/x"); });
        EXPECT_EQ(failure.nCode, 1);
        EXPECT_EQ(failure.strMessage,
                  "An error occured by sending data to the server.. Last error: 12029.");
    }
    // An abort ends a wait that the stall time-out would let run on.
    {
        const CRawListener silent(false);
        std::atomic<bool> bAbort{false};
        SHttpLimits limits;
        limits.stallTimeout = std::chrono::minutes(10);
        limits.pAbort = &bAbort;
        std::thread aborter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            bAbort = true;
        });
        const SFailure failure = FailureOf([&] { Get(silent.Port(), L"/x", limits); });
        aborter.join();
        EXPECT_EQ(failure.nCode, 3);
        EXPECT_EQ(failure.strMessage, "Receiving data from server error.. Last error: 12017.");
    }
    // A body cut short of its Content-Length is a failure, not a shorter answer.
    {
        CLoopbackServer server;
        server.Server().Get("/cut", [](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                100, "text/plain", [](std::size_t, std::size_t, httplib::DataSink& sink) {
                    sink.write("0123456789", 10);
                    return false;  // the server gives up: the connection closes
                });
        });
        const unsigned short nPort = server.Start();
        EXPECT_EQ(FailureOf([&] { Get(nPort, L"/cut"); }).nCode, 3);
    }
    EXPECT_EQ(FailureOf([] { CGetRequest request(kAgent, L"", L"", 0, 80); }).nCode, 4);
    EXPECT_EQ(FailureOf([] { CGetRequest request(kAgent, L"127.0.0.1", L"", 0, 0); }).nCode, 4);
}

TEST_F(ProxyEnvironment, ExplicitProxyCarriesTheRequest) {
    CLoopbackServer origin;
    origin.Server().Get("/extensions/PNG", [](const httplib::Request&, httplib::Response& r) {
        r.set_content("[]", "application/json");
    });
    const unsigned short nOrigin = origin.Start();
    CForwardProxy proxy;
    // The environment names a dead proxy: the explicit one must win.
    setenv("http_proxy", ("127.0.0.1:" + std::to_string(CorvaneTest::DeadPort())).c_str(), 1);

    CGetRequest request(kAgent, L"127.0.0.1", L"127.0.0.1", proxy.Port(), nOrigin, QuickLimits());
    request.SendRequest(L"/extensions/PNG");
    request.ReadAll(request, 512);
    EXPECT_EQ(request.GetResponseBytes(), "via proxy: []");
    EXPECT_EQ(proxy.Targets(),
              std::vector<std::string>{"http://127.0.0.1:" + std::to_string(nOrigin) +
                                       "/extensions/PNG"});

    // Port 0 means no explicit proxy; loopback then never goes through the environment's.
    EXPECT_EQ(Get(nOrigin, L"/extensions/PNG"), "[]");
}

TEST_F(ProxyEnvironment, EnvironmentProxyAndItsBypassList) {
    CForwardProxy proxy;
    const std::string strProxy = "http://127.0.0.1:" + std::to_string(proxy.Port());
    const auto get = [] {
        // A name only the proxy can resolve: reaching it at all proves the proxy was used.
        CGetRequest request(kAgent, L"formats.corvane.invalid", L"", 0, 8080, QuickLimits());
        request.SendRequest(L"/extensions/DOC");
        request.ReadAll(request, 512);
        return request.GetResponseBytes();
    };

    setenv("HTTP_PROXY", strProxy.c_str(), 1);
    EXPECT_EQ(FailureOf(get).nCode, -1);
    ASSERT_EQ(proxy.Targets().size(), 1u);
    EXPECT_EQ(proxy.Targets()[0], "http://formats.corvane.invalid:8080/extensions/DOC");

    setenv("no_proxy", "example.org,corvane.invalid", 1);
    const SFailure bypassed = FailureOf(get);
    EXPECT_EQ(bypassed.nCode, 1);
    EXPECT_EQ(bypassed.strMessage,
              "An error occured by sending data to the server.. Last error: 12007.");
    EXPECT_EQ(proxy.Targets().size(), 1u);
}

}  // namespace
