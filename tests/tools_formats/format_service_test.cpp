#include "tools/FormatService/FormatService.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <mutex>

#include "tests/support/format_data.h"
#include "tests/support/temp_folder.h"

namespace {

using Branwick::Formats::CFormatCatalog;
using Branwick::Formats::CFormatServer;
using CorvaneTest::CTempFolder;

Json::Value Parse(const std::string& strText) {
    Json::Value value;
    std::string strErrors;
    const std::unique_ptr<Json::CharReader> pReader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(pReader->parse(strText.data(), strText.data() + strText.size(), &value, &strErrors))
        << strErrors;
    return value;
}

std::string DecodeBase64(const std::string& strText) {
    gsize nLength = 0;
    guchar* pBytes = g_base64_decode(strText.c_str(), &nLength);
    std::string bytes(reinterpret_cast<const char*>(pBytes), nLength);
    g_free(pBytes);
    return bytes;
}

// "Name" -> "Url" (or "null") of an answer element's applications, in their order.
std::vector<std::pair<std::string, std::string>> Applications(const Json::Value& item) {
    std::vector<std::pair<std::string, std::string>> vApps;
    for (const Json::Value& app : item["Applications"]) {
        vApps.emplace_back(app["Name"].asString(),
                           app["Url"].isNull() ? "null" : app["Url"].asString());
    }
    return vApps;
}

class FormatService : public ::testing::Test {
protected:
    FormatService() {
        CorvaneTest::WriteFormatData(m_data.Path());
        Branwick::Formats::SCatalogOptions options;
        options.vDataDirs = {m_data.Path()};
        m_pCatalog = std::make_unique<CFormatCatalog>(options);
    }
    CTempFolder m_data;
    std::unique_ptr<CFormatCatalog> m_pCatalog;
};

TEST_F(FormatService, AnswerCombinesTypeIconApplicationsAndDeveloper) {
    const std::optional<std::string> answer = m_pCatalog->Answer("doc");
    ASSERT_TRUE(answer);
    const Json::Value root = Parse(*answer);
    ASSERT_TRUE(root.isArray());
    ASSERT_EQ(root.size(), 1u);
    const Json::Value& doc = root[0];
    EXPECT_EQ(doc["Extension"].asString(), "DOC");
    EXPECT_EQ(doc["FileType"].asString(), "Word document");
    EXPECT_EQ(doc["Developer"].asString(), "Microsoft");
    EXPECT_EQ(doc["Description"].asString(),
              "Media type application/msword, a kind of OLE2 compound document storage. "
              "Extensions: .DOC, .DOT.");
    // Only an SVG of the generic icon exists: it comes rendered at the icon size.
    EXPECT_EQ(CorvaneTest::PngSize(DecodeBase64(doc["Image"].asString())), std::pair(48, 48));
    // The alias in the viewer's list counts; the home page comes from AppStream.
    EXPECT_EQ(Applications(doc), (std::vector<std::pair<std::string, std::string>>{
                                     {"Image Viewer", "null"},
                                     {"Writer", "https://writer.example.org/"}}));

    const Json::Value png = Parse(*m_pCatalog->Answer("PNG"))[0];
    // The 48 px PNG as the theme has it, not the 16 px one; the hidden application is left out.
    EXPECT_EQ(DecodeBase64(png["Image"].asString()),
              CorvaneTest::ReadAll(m_data / "icons/hicolor/48x48/mimetypes/image-png.png"));
    EXPECT_EQ(png["Description"].asString(),
              "Portable Network Graphics (PNG). Media type image/png.");
    EXPECT_EQ(Applications(png),
              (std::vector<std::pair<std::string, std::string>>{{"Image Viewer", "null"}}));
}

TEST_F(FormatService, SharedExtensionsUnknownOnesAndUnsafeHomePages) {
    const Json::Value ts = Parse(*m_pCatalog->Answer("Ts"));
    ASSERT_EQ(ts.size(), 2u);
    EXPECT_EQ(ts[0]["FileType"].asString(), "MPEG-2 transport stream");
    EXPECT_EQ(ts[1]["FileType"].asString(), "message catalog");
    EXPECT_TRUE(ts[0]["Image"].isNull());
    EXPECT_EQ(ts[0]["Developer"].asString(), "");

    // A home page that is not a web address is no link; names stay UTF-8.
    const Json::Value txt = Parse(*m_pCatalog->Answer("txt"))[0];
    EXPECT_EQ(Applications(txt),
              (std::vector<std::pair<std::string, std::string>>{{"\xC3\x89" "diteur", "null"}}));

    EXPECT_FALSE(m_pCatalog->Answer("ZZZ"));
    EXPECT_FALSE(m_pCatalog->Answer("../png"));
    EXPECT_EQ(m_pCatalog->Extensions(), (std::vector<std::string>{"DOC", "DOT", "PNG", "TS", "TXT"}));
}

TEST_F(FormatService, ServerAnswersAndRefusesBadRequests) {
    std::mutex mutex;
    std::vector<std::string> vLog;
    CFormatServer server(*m_pCatalog, [&](const std::string& strLine) {
        std::lock_guard lock(mutex);
        vLog.push_back(strLine);
    });
    const unsigned short nPort = server.Listen("127.0.0.1", 0);
    httplib::Client client("127.0.0.1", nPort);

    const httplib::Result doc = client.Get("/extensions/DOC");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->status, 200);
    EXPECT_EQ(doc->body, *m_pCatalog->Answer("DOC"));
    EXPECT_EQ(doc->get_header_value("Content-Type"), "application/json; charset=utf-8");

    const httplib::Result unknown = client.Get("/extensions/QQQ");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_EQ(unknown->body, "[]");

    const std::string strLong(10 * 1024, 'A');
    for (const std::string& strPath :
         {std::string("/extensions/a%2Fb"), std::string("/extensions/png/x"),
          std::string("/extensions/.."), std::string("/extensions/%C3%A9"),
          std::string("/extensions/"), "/extensions/" + strLong,
          "/extensions/" + strLong.substr(0, 5000)}) {
        const httplib::Result result = client.Get(strPath);
        ASSERT_TRUE(result) << strPath.substr(0, 40);
        EXPECT_EQ(result->status, 400) << strPath.substr(0, 40);
    }
    std::lock_guard lock(mutex);
    ASSERT_EQ(vLog.size(), 7u);
    EXPECT_EQ(vLog[0], "Bad request from 127.0.0.1: extension \"a/b\"");
    EXPECT_EQ(vLog[3], "Bad request from 127.0.0.1: extension \"\\xC3\\xA9\"");
    for (const std::string& strLine : vLog) {
        EXPECT_LT(strLine.size(), 200u) << "a log line carries the whole of a huge request";
    }
}

TEST_F(FormatService, ExportWritesEveryAnswerAsAFile) {
    const CTempFolder out;
    EXPECT_EQ(Branwick::Formats::ExportFormats(*m_pCatalog, out.Path()), 5u);
    for (const std::string& strExtension : m_pCatalog->Extensions()) {
        EXPECT_EQ(CorvaneTest::ReadAll(out / "extensions" / strExtension),
                  *m_pCatalog->Answer(strExtension));
    }
    // A second export replaces the files rather than failing on them.
    EXPECT_EQ(Branwick::Formats::ExportFormats(*m_pCatalog, out.Path()), 5u);
}

}  // namespace
