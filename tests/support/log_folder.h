// Test support: a private Logs folder per test (through CORVANE_LOG_DIR) and the lines of a
// UTF-16LE log file read back without their time and thread-id header.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Text.h"

namespace CorvaneTest {

// The texts of a UTF-16LE log file's lines from byte nOffset on, without their headers
// ("<time>\tThreadId: <id>\t"); the byte-order mark is checked and dropped.
inline std::vector<std::wstring> ReadLogFile(const std::filesystem::path& file,
                                             std::size_t nOffset = 0) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    if (nOffset < 2 && !bytes.empty()) {
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    }
    std::wstring text;
    for (std::size_t i = std::max<std::size_t>(nOffset, 2); i + 1 < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    std::vector<std::wstring> lines;
    std::size_t nStart = 0;
    for (std::size_t nEnd; (nEnd = text.find(L'\n', nStart)) != std::wstring::npos;
         nStart = nEnd + 1) {
        std::wstring line = text.substr(nStart, nEnd - nStart);
        if (const std::size_t nTab = line.find(L"\tThreadId: "); nTab != std::wstring::npos) {
            line = line.substr(line.find(L'\t', nTab + 1) + 1);
        }
        lines.push_back(line);
    }
    return lines;
}

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

    // The texts of the lines of a log file in the folder, headers cut off.
    std::vector<std::string> ReadLogLines(const std::string& strFileName) const {
        std::vector<std::string> lines;
        for (const std::wstring& line : ReadLogFile(m_folder / strFileName)) {
            lines.push_back(Branwick::WideToUtf8(line));
        }
        return lines;
    }

    std::filesystem::path m_folder;
};

}  // namespace CorvaneTest
