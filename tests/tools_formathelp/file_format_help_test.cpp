#include "tools/FileFormatHelp/FileFormatHelp.h"

#include <gtest/gtest.h>

#include <future>

#include "tests/support/format_data.h"
#include "tests/support/http_server.h"
#include "tests/support/log_folder.h"
#include "tools/FileFormatHelp/FormatServiceEndpoint.h"

namespace {

using Branwick::CFileFormatLookup;
using Branwick::CFormatInfo;
using namespace std::chrono_literals;

Branwick::SHttpLimits QuickLimits() {
    Branwick::SHttpLimits limits;
    limits.stallTimeout = 300ms;
    return limits;
}

std::wstring Url(unsigned short nPort) {
    return L"http://127.0.0.1:" + std::to_wstring(nPort);
}

class FileFormatHelp : public CorvaneTest::CLogFolderTest {};

TEST_F(FileFormatHelp, AsksForTheUpperCasedExtensionAndReadsTheRecords) {
    CorvaneTest::CLoopbackServer server;
    std::vector<std::string> vPaths;
    server.Server().Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        vPaths.push_back(request.path);
        // Chunked, as an ordinary web server may send it.
        response.set_chunked_content_provider("application/json", [](std::size_t, httplib::DataSink& sink) {
            const std::string strAnswer =
                R"([{"Extension":"DOC","FileType":"Word document","Developer":"Microsoft",)"
                R"("Description":"A document \u00e9","Image":"iVBORw==",)"
                R"("Applications":[{"Name":"Writer","Url":"https://writer.example.org/"},)"
                R"({"Name":"Viewer","Url":null}]}])";
            sink.write(strAnswer.data(), strAnswer.size());
            sink.done();
            return true;
        });
    });
    CFileFormatLookup lookup(Url(server.Start()), 10ms, QuickLimits());

    const std::vector<CFormatInfo> vRecords = lookup.LookUp(L" .doc ");
    EXPECT_EQ(vPaths, std::vector<std::string>{"/extensions/DOC"});
    ASSERT_EQ(vRecords.size(), 1u);
    const CFormatInfo& info = vRecords[0];
    EXPECT_EQ(info.m_strFileType, L"Word document");
    EXPECT_EQ(info.m_strDeveloper, L"Microsoft\r\n\n");
    EXPECT_EQ(info.m_strDescription, L"A document \u00e9\r\n\n");
    EXPECT_EQ(info.m_image, "\x89PNG");
    EXPECT_EQ(info.m_vApplications,
              (std::vector<std::pair<std::wstring, std::wstring>>{
                  {L"Writer", L"https://writer.example.org/"}, {L"Viewer", L""}}));
    // A successful look-up leaves no log behind.
    EXPECT_FALSE(std::filesystem::exists(m_folder / "FileFormatHelp.log"));

    // What cannot be an extension is never sent.
    EXPECT_TRUE(lookup.LookUp(L"../etc").empty());
    EXPECT_TRUE(lookup.LookUp(L"  ").empty());
    EXPECT_EQ(vPaths.size(), 1u);
}

TEST_F(FileFormatHelp, ThreeFailuresArePausedLoggedAndGiveNothing) {
    const unsigned short nDead = CorvaneTest::DeadPort();
    constexpr auto kPause = 150ms;
    CFileFormatLookup lookup(Url(nDead), kPause, QuickLimits());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(lookup.LookUp(L"doc").empty());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * kPause);
    const std::string strLine = "An error occured by sending data to the server.. Last error: 12029.";
    EXPECT_EQ(ReadLogLines("FileFormatHelp.log"),
              (std::vector<std::string>{strLine, strLine, strLine}));
}

TEST_F(FileFormatHelp, OneLookUpAtATimeOnItsWorker) {
    const CorvaneTest::CRawListener silent(false);
    CFileFormatLookup lookup(Url(silent.Port()), 10ms, QuickLimits());
    std::promise<std::vector<CFormatInfo>> done;
    ASSERT_TRUE(lookup.Start(L"doc", [&](std::vector<CFormatInfo> v) { done.set_value(std::move(v)); }));
    EXPECT_TRUE(lookup.IsRunning());
    EXPECT_FALSE(lookup.Start(L"png", [](std::vector<CFormatInfo>) { FAIL() << "second look-up ran"; }));
    EXPECT_TRUE(done.get_future().get().empty());
    EXPECT_EQ(ReadLogLines("FileFormatHelp.log").size(), 3u);

    // Done: the next may start; going away cuts its pause short instead of waiting it out (a
    // pause of 20 minutes would outlast the test's time limit).
    CFileFormatLookup patient(Url(CorvaneTest::DeadPort()), 20min, QuickLimits());
    EXPECT_TRUE(patient.Start(L"doc", {}));
}

TEST_F(FileFormatHelp, OwnServiceOnLoopbackAnswersWithAPictureThatDecodes) {
    const CorvaneTest::CTempFolder data;
    CorvaneTest::WriteFormatData(data.Path());
    Branwick::Formats::SCatalogOptions options;
    options.vDataDirs = {data.Path()};
    Branwick::CFormatServiceEndpoint endpoint(L"", options);
    const std::wstring strUrl = endpoint.Url();
    EXPECT_TRUE(strUrl.starts_with(L"http://127.0.0.1:"));
    EXPECT_EQ(endpoint.Url(), strUrl);

    CFileFormatLookup lookup(strUrl, 10ms, QuickLimits());
    const std::vector<CFormatInfo> vPng = lookup.LookUp(L"png");
    ASSERT_EQ(vPng.size(), 1u);
    EXPECT_EQ(CorvaneTest::PngSize(vPng[0].m_image), std::pair(48, 48));
    EXPECT_EQ(vPng[0].m_vApplications,
              (std::vector<std::pair<std::wstring, std::wstring>>{{L"Image Viewer", L""}}));
    EXPECT_TRUE(lookup.LookUp(L"qqq").empty());  // 404 with an empty array

    EXPECT_EQ(Branwick::CFormatServiceEndpoint(L"http://formats.example.org:8080").Url(),
              L"http://formats.example.org:8080");
}

TEST(FormatAnswer, OddAnswersAndEncodings) {
    EXPECT_TRUE(Branwick::ParseFormatAnswer("").empty());
    EXPECT_TRUE(Branwick::ParseFormatAnswer("{\"FileType\":\"x\"}").empty());
    EXPECT_TRUE(Branwick::ParseFormatAnswer("[]").empty());
    EXPECT_TRUE(Branwick::ParseFormatAnswer("<html>Bad request</html>").empty());
    const std::vector<CFormatInfo> vOdd = Branwick::ParseFormatAnswer(
        R"([7, {"FileType": 12, "Applications": "none"}, {"Applications": [{"Name": "A"}, 3]}])");
    ASSERT_EQ(vOdd.size(), 2u);
    EXPECT_EQ(vOdd[0].m_strFileType, L"");
    EXPECT_EQ(vOdd[0].m_strDeveloper, L"\r\n\n");
    EXPECT_TRUE(vOdd[0].m_image.empty());
    EXPECT_EQ(vOdd[1].m_vApplications,
              (std::vector<std::pair<std::wstring, std::wstring>>{{L"A", L""}}));

    EXPECT_EQ(Branwick::DecodeBase64("TWFu"), "Man");
    EXPECT_EQ(Branwick::DecodeBase64("TWE="), "Ma");
    EXPECT_EQ(Branwick::DecodeBase64("TQ=="), "M");
    EXPECT_EQ(Branwick::DecodeBase64("TWFuTWE"), "ManMa");
    EXPECT_EQ(Branwick::DecodeBase64("TWFu\nTWFu"), "Man");  // a line break ends the data
    EXPECT_EQ(Branwick::DecodeBase64("T"), "");

    EXPECT_EQ(Branwick::NormalizeExtension(L"*.tar.gz"), L"TAR.GZ");
    EXPECT_EQ(Branwick::NormalizeExtension(L"d\u00f6c"), L"");
    EXPECT_EQ(Branwick::NormalizeExtension(L"a/b"), L"");

    Branwick::SServiceAddress address;
    ASSERT_TRUE(Branwick::ParseServiceAddress(L"http://[::1]:8081/formats/", address));
    EXPECT_EQ(address.strHost, L"::1");
    EXPECT_EQ(address.nPort, 8081);
    EXPECT_EQ(address.strPathPrefix, L"/formats");
    ASSERT_TRUE(Branwick::ParseServiceAddress(L"http://formats.example.org", address));
    EXPECT_EQ(address.nPort, 80);
    EXPECT_EQ(address.strPathPrefix, L"");
    for (const wchar_t* pszBad : {L"https://x.org", L"http://", L"http://x:0", L"http://x:99999",
                                  L"http://x:8a", L"ftp://x", L"http://u@x/"}) {
        EXPECT_FALSE(Branwick::ParseServiceAddress(pszBad, address)) << pszBad;
    }
}

}  // namespace
