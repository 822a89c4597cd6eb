// Test support: a private Logs folder per test (through CORVANE_LOG_DIR) and the lines of a
// UTF-16LE log file read back without their time and thread-id header.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Text.h"

namespace CorvaneTest {

class CLogFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = std::filesystem::temp_directory_path() /
                   ("corvane-test-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_folder);
        setenv("CORVANE_LOG_DIR", m_folder.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CORVANE_LOG_DIR");
        std::filesystem::remove_all(m_folder);
    }

    // The texts of the lines of a log file in the folder, headers ("<time>\tThreadId: <id>\t")
    // cut off; the byte-order mark is checked and dropped.
    std::vector<std::string> ReadLogLines(const std::string& strFileName) const {
        std::ifstream in(m_folder / strFileName, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        std::wstring text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
        }
        std::vector<std::string> lines;
        if (text.empty()) {
            return lines;
        }
        EXPECT_EQ(text[0], L'\uFEFF');
        size_t start = 1;
        for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
            std::wstring line = text.substr(start, end - start);
            if (const size_t tab = line.find(L"\tThreadId: "); tab != std::wstring::npos) {
                line = line.substr(line.find(L'\t', tab + 1) + 1);
            }
            lines.push_back(Branwick::WideToUtf8(line));
        }
        return lines;
    }

    std::filesystem::path m_folder;
};

}  // namespace CorvaneTest
