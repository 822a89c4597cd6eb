// The table of Wine's own entries that the library ships: every row of it is read, and a row the
// parser cannot use is named by its line.
#include <gtest/gtest.h>

#include <fstream>

#include "core/Messages.h"
#include "core/Text.h"
#include "engine/WineContent.h"

using namespace Branwick;

namespace {

TEST(WineContentTest, EveryRowOfTheShippedTableIsRead) {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/data/wine/own-content.txt");
    ASSERT_TRUE(in) << "data/wine/own-content.txt";
    std::size_t nRows = 0;
    for (std::string strLine; std::getline(in, strLine);) {
        nRows += !strLine.empty() && strLine[0] != ';';
    }
    ASSERT_EQ(WineContent().size(), nRows);
    for (const SWineEntry& entry : WineContent()) {
        EXPECT_FALSE(entry.strReason.empty());
        EXPECT_EQ(entry.strValue.empty(), entry.vcData.empty()) << WideToUtf8(entry.strKey);
    }
}

TEST(WineContentTest, RowsAreParsedFieldByField) {
    std::vector<SWineEntry> rows;
    std::wstring strError;
    ASSERT_TRUE(
        ParseWineContent("; comment\n\r\n"
                         "FONTS | HKEY_LOCAL_MACHINE | Software\\Wow6432Node\\F | Courier "
                         "| a.fon, b.fon | why\r\n"
                         "EMPTY_KEYS | HKEY_CURRENT_USER | Software\\Wine\\* | - | - | cfg\n",
                         rows, strError))
        << WideToUtf8(strError);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].nCategory, FONTS);
    EXPECT_EQ(rows[0].strKey, L"Software\\F") << "either view";
    EXPECT_FALSE(rows[0].bSubtree);
    EXPECT_EQ(rows[0].vcData, (std::vector<std::wstring>{L"a.fon", L"b.fon"}));
    EXPECT_EQ(rows[0].strReason, L"why");
    EXPECT_EQ(rows[1].hRoot, HKEY_CURRENT_USER);
    EXPECT_EQ(rows[1].strKey, L"Software\\Wine");
    EXPECT_TRUE(rows[1].bSubtree);
    EXPECT_TRUE(rows[1].strValue.empty());

    for (const char* pszBad : {"FONTS | HKEY_LOCAL_MACHINE | K | v | d\n",
                               "NO_SUCH | HKEY_LOCAL_MACHINE | K | v | d | why\n",
                               "FONTS | HKEY_USERS | K | v | d | why\n",
                               "FONTS | HKEY_LOCAL_MACHINE | K | - | d | why\n",
                               "FONTS | HKEY_LOCAL_MACHINE | K | v | d | \n"}) {
        EXPECT_FALSE(ParseWineContent(std::string("; first\n") + pszBad, rows, strError)) << pszBad;
        EXPECT_EQ(strError.rfind(L"line 2: ", 0), 0u) << WideToUtf8(strError);
    }
}

}  // namespace
