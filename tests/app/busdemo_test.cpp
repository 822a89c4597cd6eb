#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/log_folder.h"

namespace {

class BusDemo : public CorvaneTest::CLogFolderTest {};

TEST_F(BusDemo, RunsEndToEndAndLogs) {
    std::FILE* pOutput = popen(CORVANE_BIN_DIR "/corvane-busdemo 2>&1", "r");
    ASSERT_NE(pOutput, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pOutput) != nullptr) {
        output += buffer;
    }
    EXPECT_EQ(pclose(pOutput), 0) << output;
    EXPECT_NE(output.find("bus demo: OK"), std::string::npos) << output;
    const auto lines = ReadLogLines("Logger.log");
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "--------------- New Log message -------------------"),
              3);
    EXPECT_FALSE(ReadLogLines("CThreadManager.log").empty());
}

}  // namespace
