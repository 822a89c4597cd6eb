#include "app/IgnoreList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/target/target.h"
#include "tests/support/temp_folder.h"

namespace Branwick {
namespace {

namespace fs = std::filesystem;
using CorvaneTest::ReadAll;

// A registry record of the given view with one value fix per text.
CRegError Record(const std::wstring& strPath, REGSAM dwView,
                 const std::vector<std::wstring>& values = {L"data"}, std::int32_t nType = COM) {
    CRegError record(nType, HKEY_LOCAL_MACHINE, strPath, L"Invalid entry", dwView, false);
    for (const std::wstring& strData : values) {
        record.AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, strPath, L"Name",
                                                             strData, dwView));
    }
    return record;
}

class IgnoreListTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_dir / "c/Corvane");
        m_pTarget = Platform::CTarget::OpenTest((m_dir / "c").string(),
                                                Platform::CRegistry::CreateInMemory());
    }

    std::unique_ptr<CIgnoreList> Open(bool bLocked = false) {
        return std::make_unique<CIgnoreList>(m_pTarget->Files(), L"C:\\Corvane\\",
                                             bLocked ? m_pTarget.get() : nullptr);
    }
    fs::path File() const { return m_dir / "c/Corvane/ignorelist.xml"; }
    void Write(const std::string& text) const { std::ofstream(File(), std::ios::binary) << text; }

    CorvaneTest::CTempFolder m_temp{"corvane-ignore"};
    const fs::path m_dir = m_temp.Path();
    std::unique_ptr<Platform::CTarget> m_pTarget;
};

TEST_F(IgnoreListTest, AnIgnoredRecordIsIgnoredAfterARestart) {
    auto list = Open();
    EXPECT_FALSE(list->IsIgnored(COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY)));
    list->Add(COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY));
    CRegError file(JUNK_FILES, 0, L"C:\\temp\\x.tmp", L"Junk file found", 0, true);
    list->Add(JUNK_FILES, file);
    EXPECT_EQ(ReadAll(File()),
              "<IgnoreList>\n"
              "\t<COM>\n"
              "\t\t<REG_ERROR hRoot=\"-2147483646\" Path=\"HKEY_LOCAL_MACHINE\\Software\\Classes\\"
              "CLSID\\{1}\" RegSam=\"512\">\n"
              "\t\t\t<VALUE>Name = data;</VALUE>\n"
              "\t\t</REG_ERROR>\n"
              "\t</COM>\n"
              "\t<JUNK_FILES>\n"
              "\t\t<REG_ERROR hRoot=\"0\" Path=\"C:\\temp\\x.tmp\" RegSam=\"0\" />\n"
              "\t</JUNK_FILES>\n"
              "</IgnoreList>\n");
    list.reset();
    auto reopened = Open();
    EXPECT_TRUE(
        reopened->IsIgnored(COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY)));
    EXPECT_FALSE(
        reopened->IsIgnored(UNINSTALL, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY)));
    EXPECT_EQ(reopened->GetCount(COM), 1u);
    EXPECT_EQ(reopened->GetCount(JUNK_FILES), 1u);
    EXPECT_EQ(reopened->GetEntries(JUNK_FILES).front().m_dwRegSam, 512u)
        << "view bits 0 read back as 512";
    EXPECT_FALSE(reopened->IsIgnored(JUNK_FILES, file)) << "and so no longer match the record";
}

TEST_F(IgnoreListTest, WhatMustMatch) {
    auto list = Open();
    list->Add(COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY, {L"a", L"b"}));
    EXPECT_TRUE(list->IsIgnored(
        COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY, {L"a", L"b"})));
    EXPECT_FALSE(list->IsIgnored(
        COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY, {L"a", L"b", L"c"})))
        << "one more fix than when it was ignored";
    EXPECT_FALSE(list->IsIgnored(
        COM, Record(L"Software\\Classes\\clsid\\{1}", KEY_WOW64_32KEY, {L"a", L"b"})))
        << "paths compare case-sensitively";
    EXPECT_FALSE(list->IsIgnored(
        COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_64KEY, {L"a", L"b"})))
        << "the other view is another record";
    EXPECT_FALSE(list->IsIgnored(
        COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_32KEY, {L"a", L"c"})));
    list->Add(COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_64KEY, {L"a", L"b"}));
    EXPECT_TRUE(list->IsIgnored(
        COM, Record(L"Software\\Classes\\CLSID\\{1}", KEY_WOW64_64KEY, {L"a", L"b"})));
    EXPECT_EQ(list->GetCount(COM), 2u);
}

TEST_F(IgnoreListTest, TheComparisonStopsAtTheFirstEmptyText) {
    auto list = Open();
    list->Add(COM, Record(L"Software\\X", KEY_WOW64_32KEY, {L"a", L"", L"x"}));
    EXPECT_TRUE(list->IsIgnored(COM, Record(L"Software\\X", KEY_WOW64_32KEY, {L"a", L"", L"y"})));
    EXPECT_FALSE(list->IsIgnored(COM, Record(L"Software\\X", KEY_WOW64_32KEY, {L"a", L"b", L"x"})))
        << "one empty and one not: no match";
}

TEST_F(IgnoreListTest, IgnoringTwiceStoresTwoEntries) {
    auto list = Open();
    list->Add(FONTS, Record(L"Software\\Fonts", KEY_WOW64_32KEY));
    list->Add(FONTS, Record(L"Software\\Fonts", KEY_WOW64_32KEY));
    EXPECT_EQ(list->GetCount(FONTS), 2u);
    EXPECT_EQ(Open()->GetCount(FONTS), 2u);
}

TEST_F(IgnoreListTest, EachRemovalIsSavedAtOnce) {
    // Under the one-writer lock every change reads the file again first: a removal kept only in
    // memory would come back with the next one.
    auto list = Open(true);
    list->Add(COM, Record(L"Software\\A", KEY_WOW64_32KEY));
    list->Add(COM, Record(L"Software\\B", KEY_WOW64_32KEY));
    list->Add(STARTUP, Record(L"Software\\C", KEY_WOW64_32KEY));
    const CIgnoreEntry* first = &list->GetEntries(COM).front();
    EXPECT_TRUE(list->Remove(STARTUP, first)) << "not of that category: nothing to do";
    EXPECT_TRUE(list->Remove(COM, first));
    EXPECT_EQ(ReadAll(File()).find("Software\\A"), std::string::npos) << "saved by the removal";
    EXPECT_TRUE(list->Remove(STARTUP, &list->GetEntries(STARTUP).front()));
    EXPECT_EQ(list->GetCount(COM), 1u);
    EXPECT_EQ(list->GetCount(STARTUP), 0u);
    const std::string text = ReadAll(File());
    EXPECT_EQ(text.find("Software\\A"), std::string::npos) << "the first removal stays";
    EXPECT_NE(text.find("Software\\B"), std::string::npos);
    EXPECT_EQ(text.find("STARTUP"), std::string::npos) << "an emptied category is not written";
}

TEST_F(IgnoreListTest, ReadsWhatOtherVersionsWrote) {
    Write(
        "<?xml version=\"1.0\"?>\n<List><COM><REG_ERROR hRoot=\"-2147483647\" "
        "Path=\"HKEY_CURRENT_USER\\x\">"
        "<VALUE>v1</VALUE><VALUE> </VALUE></REG_ERROR></COM>"
        "<FONTS><REG_ERROR hRoot=\"1\" Path=\"p1\" RegSam=\"256\"/></FONTS>"
        "<FONTS><REG_ERROR hRoot=\"2\" Path=\"p2\" RegSam=\"7\"/></FONTS>"
        "<MY_OWN keep=\"yes\"><thing>1</thing></MY_OWN></List>");
    auto list = Open();
    ASSERT_EQ(list->GetCount(COM), 1u);
    const CIgnoreEntry& com = list->GetEntries(COM).front();
    EXPECT_EQ(com.m_hRoot, HKEY_CURRENT_USER);
    EXPECT_EQ(com.m_dwRegSam, 512u) << "no RegSam reads as 512";
    EXPECT_EQ(com.m_vcValues, (std::vector<std::wstring>{L"v1", L" "}));
    ASSERT_EQ(list->GetCount(FONTS), 1u) << "the later element of a category wins";
    EXPECT_EQ(list->GetEntries(FONTS).front().m_strPath, L"p2");
    EXPECT_EQ(list->GetEntries(FONTS).front().m_dwRegSam, 512u) << "RegSam 7 reads as 512";
    EXPECT_FALSE(fs::exists(File().string() + ".bad"));
    ASSERT_TRUE(list->Save());
    EXPECT_NE(ReadAll(File()).find("\t<MY_OWN keep=\"yes\">\n\t\t<thing>1</thing>\n\t</MY_OWN>\n"),
              std::string::npos)
        << ReadAll(File());
}

TEST_F(IgnoreListTest, ADamagedFileLoadsWhatItCanAndLosesNothing) {
    const std::string original =
        "<IgnoreList><COM><REG_ERROR hRoot=\"-2147483646\" Path=\"HKEY_LOCAL_MACHINE\\a\" "
        "RegSam=\"512\">"
        "<VALUE>Name = data;</VALUE></REG_ERROR><REG_ERROR Path=\"no root\"/></COM>"
        "<UNINSTALL><REG_ERROR hRoot=\"-2147483646\" Path=\"HKEY_LOCAL_MACHINE\\b\" "
        "RegSam=\"256\"/>"
        "</UNINSTALL><FONTS><REG_ERROR hRoot=\"-21474";
    Write(original);
    auto list = Open();
    EXPECT_TRUE(list->IsIgnored(COM, Record(L"a", KEY_WOW64_32KEY)));
    EXPECT_EQ(list->GetCount(COM), 1u) << "the entry without a root is left out, not the rest";
    EXPECT_EQ(list->GetCount(UNINSTALL), 1u) << "categories after a bad entry still load";
    EXPECT_FALSE(fs::exists(File().string() + ".bad")) << "reading writes nothing";
    list->Add(HELP_FILES, Record(L"h", KEY_WOW64_32KEY));
    EXPECT_EQ(ReadAll(File().string() + ".bad"), original) << "kept before the save replaced it";
    const std::string text = ReadAll(File());
    EXPECT_NE(text.find("HKEY_LOCAL_MACHINE\\a"), std::string::npos);
    EXPECT_NE(text.find("<UNINSTALL>"), std::string::npos);
    EXPECT_NE(text.find("<HELP_FILES>"), std::string::npos);
}

// A hostile list: an unknown element nested a hundred thousand levels deep. Keeping it whole made
// every save write the square of its depth in indentation; past the bound it is dropped, the
// entries beside it load, and the file stays as it was beside the list.
TEST_F(IgnoreListTest, ADeeplyNestedUnknownElementIsDroppedAndTheFileKept) {
    std::string original = "<IgnoreList><COM><REG_ERROR hRoot=\"-2147483646\" Path=\"HKEY_LOCAL_MACHINE\\a\"/></COM><Mine>";
    for (int i = 0; i < 100000; ++i) {
        original += "<a>";
    }
    original += "</Mine></IgnoreList>";
    Write(original);
    auto list = Open();
    EXPECT_EQ(list->GetCount(COM), 1u);
    EXPECT_FALSE(fs::exists(File().string() + ".bad")) << "reading writes nothing";
    ASSERT_TRUE(list->Save());
    EXPECT_TRUE(ReadAll(File().string() + ".bad") == original) << "the save keeps the damaged file";
    EXPECT_LT(ReadAll(File()).size(), std::size_t(1) << 20);
    EXPECT_NE(ReadAll(File()).find("<Mine>"), std::string::npos) << "what lies within the bound is kept";
}

TEST_F(IgnoreListTest, NoFileOrNoFolderIsAnEmptyList) {
    auto list = Open();
    EXPECT_EQ(list->GetCount(COM), 0u);
    EXPECT_TRUE(list->GetEntries(COM).empty());
    CIgnoreList missing(m_pTarget->Files(), L"C:\\Missing\\Corvane\\");
    missing.Add(COM, Record(L"x", KEY_WOW64_32KEY));
    EXPECT_TRUE(fs::exists(m_dir / "c/Missing/Corvane/ignorelist.xml"))
        << "the save makes the folder";
    std::ofstream(m_dir / "c/Blocked") << "a file where a folder belongs";
    CIgnoreList blocked(m_pTarget->Files(), L"C:\\Blocked\\Corvane\\");
    blocked.Add(COM, Record(L"x", KEY_WOW64_32KEY));
    EXPECT_EQ(blocked.GetCount(COM), 1u) << "a failed save keeps the list in memory";
    EXPECT_FALSE(blocked.Save());
}

TEST_F(IgnoreListTest, OnlyAChangedListIsWrittenAtTheEnd) {
    Open().reset();
    EXPECT_FALSE(fs::exists(File())) << "a list only read writes no file";
    Open()->Add(COM, Record(L"a", KEY_WOW64_32KEY));
    const std::string saved = ReadAll(File());
    const auto time = fs::last_write_time(File());
    {
        auto list = Open();
        EXPECT_TRUE(list->IsIgnored(COM, Record(L"a", KEY_WOW64_32KEY)));
    }
    EXPECT_EQ(fs::last_write_time(File()), time) << "a list only read is not written back";
    {
        auto list = Open();
        list->Remove(COM, &list->GetEntries(COM).front());
    }
    EXPECT_NE(ReadAll(File()), saved) << "a removal reaches the file";
    EXPECT_FALSE(Open()->IsIgnored(COM, Record(L"a", KEY_WOW64_32KEY)));
}

}  // namespace
}  // namespace Branwick
