#include "core/RegData.h"

#include <gtest/gtest.h>

#include "core/RegError.h"
#include "target_fixture.h"
#include "tests/support/temp_folder.h"

using namespace Branwick;
using Branwick::Test::CTargetTest;
using Branwick::Test::Sz;

namespace {

std::string Base64(std::string_view s) {
    return Base64Encode(Platform::CRegBytes(s.begin(), s.end()));
}
std::string Decoded(std::string_view s) {
    const Platform::CRegBytes v = Base64Decode(s);
    return std::string(v.begin(), v.end());
}

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(Base64Encode(Sz(L"a")), "YQAAAA==");
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("\xfb\xff\xfe"), "+//+");
    for (std::string s : {"", "x", "xy", "xyz", "wxyz", "vwxyz"}) {
        EXPECT_EQ(Decoded(Base64(s)), s);
    }
}

TEST(Base64, DecodingStopsAtPaddingOrAForeignCharacter) {
    EXPECT_EQ(Decoded("Zm9v=Zm9v"), "foo");
    EXPECT_EQ(Decoded("Zm9vYmFy\nZm9v"), "foobar");
    EXPECT_EQ(Decoded("Zm9vY"), "foo");     // a lone trailing character gives nothing
    EXPECT_EQ(Decoded("Zm9vYg"), "foob");   // two give one byte
    EXPECT_EQ(Decoded("Zm9vYmE"), "fooba");  // three give two
    EXPECT_EQ(Decoded(" Zm9v"), "");
    EXPECT_EQ(Decoded("Zm-9v"), "f");
}

using RegDataTest = CTargetTest;

TEST_F(RegDataTest, KeyDocumentHasItsNamesOrderAndSignedRoot) {
    // The subkey is older than the values: values still come first.
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\T\\Sub\\Deeper]
"bin"=hex:01,02
[Software\\T]
@="a"
"dw"=dword:00000001
[Software\\T\\Empty]
)");
    pugi::xml_document doc;
    CRegDataSaver saver(CreateBackupDocument(doc), m_registry);
    saver.SaveKey(HKEY_LOCAL_MACHINE, L"Software\\T", KEY_WOW64_64KEY);
    saver.SaveKey(HKEY_LOCAL_MACHINE, L"Software\\Missing", 0);
    saver.SaveKey(HKEY_LOCAL_MACHINE, L"Software\\T\\Empty", 0);
    EXPECT_EQ(BackupDocumentText(doc),
              "<Backup>"
              "<Registry_Key Root_key=\"-2147483646\" Path=\"Software\\T\" RegSam=\"256\">"
              "<Value type=\"1\" name=\"\" RegSam=\"256\" value=\"YQAAAA==\"/>"
              "<Value type=\"4\" name=\"dw\" RegSam=\"256\" value=\"AQAAAA==\"/>"
              "<Sub_key name=\"Empty\"/>"
              "<Sub_key name=\"Sub\"><Sub_key name=\"Deeper\">"
              "<Value type=\"3\" name=\"bin\" RegSam=\"256\" value=\"AQI=\"/>"
              "</Sub_key></Sub_key>"
              "</Registry_Key>"
              "<Registry_Key Root_key=\"-2147483646\" Path=\"Software\\T\\Empty\" RegSam=\"0\"/>"
              "</Backup>");
}

TEST_F(RegDataTest, ValueDocumentHasItsNamesAndOrder) {
    Import(HKEY_CLASSES_ROOT, R"(
[.txt]
"Content Type"="a"
)");
    pugi::xml_document doc;
    CRegDataSaver saver(CreateBackupDocument(doc), m_registry);
    saver.SaveValue(HKEY_CLASSES_ROOT, L".txt", L"Content Type", KEY_WOW64_32KEY);
    saver.SaveValue(HKEY_CLASSES_ROOT, L".txt", L"Missing", 0);
    saver.SaveValue(HKEY_CLASSES_ROOT, L".none", L"", 0);
    EXPECT_EQ(BackupDocumentText(doc),
              "<Backup><INCORRECT_VALUE Root_key=\"-2147483648\" Path=\".txt\" type=\"1\" "
              "value_name=\"Content Type\" RegSam=\"512\" value_value=\"YQAAAA==\"/></Backup>");
}

// Restores every child of the document element, as the backup manager does.
void RestoreAll(const Platform::CRegistry& registry, const pugi::xml_document& doc) {
    CRegDataRestorer restorer(registry);
    for (pugi::xml_node node : doc.document_element().children()) {
        restorer.Restore(node);
    }
}

void RestoreText(const Platform::CRegistry& registry, std::string_view strText) {
    pugi::xml_document doc;
    std::wstring strError;
    ASSERT_TRUE(LoadBackupDocument(strText, doc, strError)) << WideToUtf8(strError);
    RestoreAll(registry, doc);
}

TEST_F(RegDataTest, RestoreCreatesTheMissingPathAndSkipsStrangers) {
    RestoreText(m_registry,
                "<Backup><Stranger Root_key=\"-2147483646\" Path=\"Software\\S\" RegSam=\"0\"/>"
                "<Registry_Key Root_key=\"-2147483646\" Path=\"Software\\A\\B\\C\" RegSam=\"256\">"
                "<Value type=\"1\" name=\"n\" value=\"YQAAAA==\"/><Other name=\"o\"/>"
                "<Sub_key name=\"D\"/></Registry_Key></Backup>");
    EXPECT_EQ(m_registry.ExportText(HKEY_LOCAL_MACHINE, L"Software\\A"),
              "\n[B\\\\C]\n\"n\"=\"a\"\n\n[B\\\\C\\\\D]\n");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\S"));
}

TEST_F(RegDataTest, IncorrectValueReplacesAnExistingValueOrCreatesItsKey) {
    Import(HKEY_CURRENT_USER, R"(
[Software\\Run]
"before"="0"
"app"="C:\\old.exe"
"after"="1"
)");
    RestoreText(m_registry,
                "<Backup><INCORRECT_VALUE Root_key=\"-2147483647\" Path=\"Software\\Run\" "
                "type=\"4\" value_name=\"app\" RegSam=\"512\" value_value=\"KgAAAA==\"/>"
                "<INCORRECT_VALUE Root_key=\"-2147483647\" Path=\"Software\\New\\Key\" "
                "type=\"7\" value_name=\"\" RegSam=\"0\" value_value=\"YQAAAAAA\"/></Backup>");
    EXPECT_EQ(m_registry.ExportText(HKEY_CURRENT_USER, L"Software\\New"),
              "\n[Key]\n@=str(7):\"a\\0\"\n");
    // The value keeps its place among the others.
    Platform::CRegKey run;
    ASSERT_EQ(m_registry.OpenKey(HKEY_CURRENT_USER, L"Software\\Run", 0, &run), ERROR_SUCCESS);
    Platform::CRegValue value;
    ASSERT_EQ(run.EnumValue(1, &value), ERROR_SUCCESS);
    EXPECT_EQ(value.m_strName, L"app");
    EXPECT_EQ(value.m_dwType, REG_DWORD);
    EXPECT_EQ(value.m_vData, (Platform::CRegBytes{42, 0, 0, 0}));
}

// A backup of a key in the 64-bit view must bring its subkeys back into that view, not under
// Wow6432Node.
TEST_F(RegDataTest, SubkeysComeBackInTheViewOfTheirKey) {
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\Vendor\\App\\Plugins\\One]
"path"="C:\\one.dll"
[Software\\Wow6432Node\\Vendor\\App32\\Plugins]
"x"=dword:00000002
)");
    const std::string before = Export();
    pugi::xml_document doc;
    CRegDataSaver saver(CreateBackupDocument(doc), m_registry);
    saver.SaveKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor\\App", KEY_WOW64_64KEY);
    saver.SaveKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor\\App32", KEY_WOW64_32KEY);
    ASSERT_EQ(m_registry.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Vendor"), ERROR_SUCCESS);
    ASSERT_EQ(m_registry.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Vendor"),
              ERROR_SUCCESS);
    RestoreText(m_registry, BackupDocumentText(doc));
    EXPECT_EQ(Export(), before);
}

// A scanner may name a key in another case than the registry keeps it; the restore must bring
// the stored names back, parents included, also through a view.
TEST_F(RegDataTest, RestoredKeysKeepTheCaseTheRegistryStoredThem) {
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\Wow6432Node\\Vendor\\App32\\Shell\\Open]
"x"=dword:00000001
[Software\\Classes\\.Ext\\Shell\\Open\\Command]
@="app.exe"
)");
    const std::string before = Export();
    pugi::xml_document doc;
    CRegDataSaver saver(CreateBackupDocument(doc), m_registry);
    saver.SaveKey(HKEY_LOCAL_MACHINE, L"software\\vendor\\app32\\shell", KEY_WOW64_32KEY);
    saver.SaveValue(HKEY_LOCAL_MACHINE, L"software\\classes\\.ext\\shell\\open\\command", L"", 0);
    const std::string text = BackupDocumentText(doc);
    EXPECT_NE(text.find(R"(Path="software\Vendor\App32\Shell")"), std::string::npos)
        << "the view's Wow6432Node ends the names taken over: " << text;
    EXPECT_NE(text.find(R"(Path="Software\Classes\.Ext\Shell\Open\Command")"), std::string::npos)
        << text;
    ASSERT_EQ(m_registry.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Vendor"),
              ERROR_SUCCESS);
    ASSERT_EQ(m_registry.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.Ext"), ERROR_SUCCESS);
    RestoreText(m_registry, text);
    EXPECT_EQ(Export(), before);
}

TEST_F(RegDataTest, FilesWithoutViewRestoreIntoThe32BitView) {
    RestoreText(m_registry,
                "<Backup><Registry_Key Root_key=\"-2147483646\" Path=\"Software\\Old\">"
                "<Sub_key name=\"Sub\"><Value type=\"1\" name=\"\" value=\"YQAAAA==\"/></Sub_key>"
                "</Registry_Key></Backup>");
    EXPECT_EQ(m_registry.ExportText(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Old"),
              "\n[Sub]\n@=\"a\"\n");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Old"));
}

TEST_F(RegDataTest, ABackupThatDoesNotLoadIsAnErrorAndRestoresNothing) {
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\T\\Sub]
"v"="1"
)");
    pugi::xml_document doc;
    CRegDataSaver(CreateBackupDocument(doc), m_registry)
        .SaveKey(HKEY_LOCAL_MACHINE, L"Software\\T", 0);
    const std::string strText = BackupDocumentText(doc);
    ASSERT_EQ(m_registry.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\T"), ERROR_SUCCESS);
    const std::string before = Export();

    for (const std::string& strBad :
         {strText.substr(0, strText.size() / 2), strText.substr(0, strText.size() - 1),
          std::string(), std::string("  \n"), std::string("<!-- nothing -->"),
          std::string("\xff\xfe<"),
          std::string(
              "<Other><Registry_Key Root_key=\"-2147483646\" Path=\"Software\\T\"/></Other>")}) {
        pugi::xml_document loaded;
        std::wstring strError;
        EXPECT_FALSE(LoadBackupDocument(strBad, loaded, strError)) << strBad;
        EXPECT_FALSE(strError.empty());
        EXPECT_FALSE(loaded.first_child());
        RestoreAll(m_registry, loaded);
    }
    EXPECT_EQ(Export(), before);

    pugi::xml_document loaded;
    std::wstring strError;
    EXPECT_FALSE(LoadBackupDocument(strText.substr(0, strText.size() / 2), loaded, strError));
    EXPECT_NE(strError.find(L"not well-formed"), std::wstring::npos) << WideToUtf8(strError);
}

TEST_F(RegDataTest, SavedFileIsTheDocumentText) {
    pugi::xml_document doc;
    pugi::xml_node backup = CreateBackupDocument(doc);
    CRegDataSaver(backup, m_registry).SaveKey(HKEY_LOCAL_MACHINE, L"Software", 0);
    const std::string strPath = (m_root / "Corvanes_history.his").string();
    std::wstring strError;
    ASSERT_TRUE(SaveBackupDocument(doc, strPath, strError)) << WideToUtf8(strError);
    const std::string content = CorvaneTest::ReadAll(strPath);
    EXPECT_EQ(content, BackupDocumentText(doc));
    EXPECT_EQ(content.rfind("<Backup><Registry_Key Root_key=\"-2147483646\" Path=\"Software\"", 0), 0u);

    EXPECT_FALSE(SaveBackupDocument(doc, (m_root / "no" / "such.his").string(), strError));
    EXPECT_FALSE(strError.empty());
}

// Names that XML must carry unchanged: markup characters, controls, line breaks, non-ASCII text
// and characters beyond the Basic Multilingual Plane.
const std::vector<std::wstring>& OddNames() {
    static const std::vector<std::wstring> names = {
        L"caf\u00e9 \u4e2d\u6587", L"\U0001F600 smile", L"tab\tand=equals]", L"line\r\nbreak",
        L"<&\"'>", L" leading and trailing ", L"bell\a"};
    return names;
}

void AddOddNames(const Platform::CRegistry& registry, HKEY hRoot, const std::wstring& strPath) {
    Platform::CRegKey key;
    ASSERT_EQ(registry.CreateKey(hRoot, strPath + L"\\\u00dcn\u00efc\u00f8d\u00e9 key", 0, &key),
              ERROR_SUCCESS);
    for (const std::wstring& strName : OddNames()) {
        ASSERT_EQ(key.SetValue(strName, REG_SZ, Sz(strName)), ERROR_SUCCESS);
        Platform::CRegKey sub;
        ASSERT_EQ(key.CreateKey(strName, 0, &sub), ERROR_SUCCESS);
    }
    ASSERT_EQ(key.SetValue(L"", REG_EXPAND_SZ, Sz(L"%SystemRoot%\\\u00e9")), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"odd type", 0xFFFF0012u, Platform::CRegBytes{0, 1, 2}), ERROR_SUCCESS);
}

class RegDataFixtureTest : public CTargetTest {
protected:
    void SetUp() override {
        CTargetTest::SetUp();
        const std::string strFile = CORVANE_FIXTURES_DIR "/wine8-win64/system.reg";
        if (!std::filesystem::exists(strFile)) {
            GTEST_SKIP() << "fixture " << strFile << " is absent";
        }
        Import(HKEY_LOCAL_MACHINE, CorvaneTest::ReadAll(strFile));
    }

    // Backs the key up through its problem record, deletes it, and restores it from the saved
    // text; the whole registry must be as before.
    void RoundTrip(const std::wstring& strPath, REGSAM dwView, const std::wstring& strSeenAs) {
        AddOddNames(m_registry, HKEY_LOCAL_MACHINE, strSeenAs + L"\\Deep");
        const std::string before = Export();
        ASSERT_NE(before.find("\\xd83d\\xde00 smile"), std::string::npos);

        CRegError record(EMPTY_KEYS, HKEY_LOCAL_MACHINE, strPath, L"The key is empty.", dwView,
                         true);
        pugi::xml_document doc;
        record.Backup(CreateBackupDocument(doc), m_registry);
        const std::string strText = BackupDocumentText(doc);
        EXPECT_EQ(Fix(record), 0);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, strSeenAs));
        EXPECT_NE(Export(), before);

        RestoreText(m_registry, strText);
        EXPECT_EQ(Export(), before);
        // The export sorts values; a second backup also shows their order.
        pugi::xml_document again;
        record.Backup(CreateBackupDocument(again), m_registry);
        EXPECT_EQ(BackupDocumentText(again), strText);
    }
};

TEST_F(RegDataFixtureTest, DeepSubtreeComesBackByteForByte) {
    RoundTrip(L"System\\CurrentControlSet\\Enum", 0, L"System\\CurrentControlSet\\Enum");
}

TEST_F(RegDataFixtureTest, ThirtyTwoBitViewComesBackIntoThatView) {
    RoundTrip(L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", KEY_WOW64_32KEY,
              L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
}

// The same round trip on a Wine prefix, through its files: the fix and the restore each end with
// one Flush, and every step is read back from disk.
TEST(RegDataWinePrefix, DeletedSubtreeComesBackFromTheHistoryFile) {
    const std::filesystem::path fixture = CORVANE_FIXTURES_DIR "/wine8-win64";
    if (!std::filesystem::exists(fixture / "system.reg")) {
        GTEST_SKIP() << "fixture " << fixture << " is absent";
    }
    const CorvaneTest::CTempFolder temp("corvane-core-prefix");
    const std::filesystem::path& prefix = temp.Path();
    for (const char* pszFile : {"system.reg", "user.reg", "userdef.reg"}) {
        std::filesystem::copy_file(fixture / pszFile, prefix / pszFile);
    }
    auto open = [&prefix] {
        std::wstring strError;
        std::unique_ptr<Platform::CTarget> pTarget =
            Platform::CTarget::OpenWinePrefix(prefix.string(), strError);
        EXPECT_NE(pTarget, nullptr) << WideToUtf8(strError);
        return pTarget;
    };
    const std::wstring strPath = L"System\\CurrentControlSet\\Enum";
    const std::string strHistory = (prefix / "history.his").string();
    std::string before;
    {
        const std::unique_ptr<Platform::CTarget> pTarget = open();
        ASSERT_NE(pTarget, nullptr);
        AddOddNames(pTarget->Registry(), HKEY_LOCAL_MACHINE, strPath + L"\\Deep");
        ASSERT_TRUE(pTarget->Registry().Flush().Ok());
        const std::unique_ptr<Platform::CTarget> pSaved = open();
        ASSERT_NE(pSaved, nullptr);
        before = pSaved->Registry().ExportText(HKEY_LOCAL_MACHINE, L"");

        CRegError record(EMPTY_KEYS, HKEY_LOCAL_MACHINE, strPath, L"The key is empty.", 0, true);
        pugi::xml_document doc;
        record.Backup(CreateBackupDocument(doc), pTarget->Registry());
        std::wstring strError;
        ASSERT_TRUE(SaveBackupDocument(doc, strHistory, strError)) << WideToUtf8(strError);
        EXPECT_EQ(record.Fix({*pTarget, nullptr}), 0);
        ASSERT_TRUE(pTarget->Registry().Flush().Ok());
    }
    const std::unique_ptr<Platform::CTarget> pFixed = open();
    ASSERT_NE(pFixed, nullptr);
    const Platform::CRegistry& registry = pFixed->Registry();
    Platform::CRegKey key;
    EXPECT_EQ(registry.OpenKey(HKEY_LOCAL_MACHINE, strPath, 0, &key), ERROR_FILE_NOT_FOUND);

    RestoreText(registry, CorvaneTest::ReadAll(strHistory));
    ASSERT_TRUE(registry.Flush().Ok());
    const std::unique_ptr<Platform::CTarget> pRestored = open();
    ASSERT_NE(pRestored, nullptr);
    EXPECT_EQ(pRestored->Registry().ExportText(HKEY_LOCAL_MACHINE, L""), before);
}

}  // namespace
