#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Text.h"
#include "tests/support/log_folder.h"
#include "tests/support/temp_folder.h"

using namespace Branwick;

namespace {

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// UTF-16LE bytes (BMP only, as our log texts are) back to a narrow string for matching.
std::string FromUtf16LE(std::string_view bytes) {
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return WideToUtf8(text);
}

// Every run of digits as one '#', so that times and ids compare as their shape.
std::string Shape(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool bDigit = c >= '0' && c <= '9';
        if (!bDigit || out.empty() || out.back() != '#') {
            out += bDigit ? '#' : c;
        }
    }
    return out;
}

const std::string kHeader = "#-#-# #:#:#\tThreadId: #\t";

// Each test logs into a folder of its own and records message boxes.
class LogFile : public CorvaneTest::CLogFolderTest {
protected:
    void SetUp() override {
        CLogFolderTest::SetUp();
        m_pPrevious = SetMessageBox(&m_boxes);
    }
    void TearDown() override {
        SetMessageBox(m_pPrevious);
        CLogFolderTest::TearDown();
    }

    CRecordingMessageBox m_boxes;
    IMessageBox* m_pPrevious = nullptr;
};

TEST_F(LogFile, NewFileGetsOneMarkAndHeaderedLines) {
    CLogFile log;
    EXPECT_TRUE(log.Open(L"Test.log"));
    ASSERT_TRUE(log.IsOpen());
    EXPECT_TRUE(log.Write(L"first"));
    EXPECT_TRUE(log.Write(L"second", false));
    const std::string bytes = CorvaneTest::ReadAll(m_folder / "Test.log");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::string text = FromUtf16LE(bytes.substr(2));
    EXPECT_EQ(Shape(text), kHeader + "first\nsecond\n");
    EXPECT_NE(text.find("ThreadId: " + std::to_string(Platform::GetCurrentThreadId()) + "\t"),
              std::string::npos);
}

TEST_F(LogFile, EmptyTextWritesNothing) {
    CLogFile log;
    log.Open(L"Empty.log");
    EXPECT_FALSE(log.Write(L""));
    EXPECT_EQ(std::filesystem::file_size(m_folder / "Empty.log"), 0u);
    // ...and did not use up the byte-order mark either.
    EXPECT_TRUE(log.Write(L"x", false));
    EXPECT_EQ(CorvaneTest::ReadAll(m_folder / "Empty.log"), std::string("\xFF\xFEx\0\n\0", 6));
}

TEST_F(LogFile, FirstWriteRewritesTheMarkAndAppendsAtTheEnd) {
    std::filesystem::create_directories(m_folder);
    WriteBytes(m_folder / "Old.log", std::string("AB"
                                                 "o\0l\0d\0\n\0",
                                                 10));
    {
        CLogFile log;
        log.Open(L"Old.log");
        EXPECT_TRUE(log.Write(L"new", false));
        EXPECT_TRUE(log.Write(L"newer", false));
    }
    CLogFile second;  // a later object rewrites the same two bytes, once
    second.Open(L"Old.log");
    EXPECT_TRUE(second.Write(L"last", false));
    EXPECT_EQ(FromUtf16LE(CorvaneTest::ReadAll(m_folder / "Old.log")), "\uFEFFold\nnew\nnewer\nlast\n");
}

TEST_F(LogFile, ABatchWritesItsLinesInOrderWithTheirHeadersWhenFlushedOrEnded) {
    CLogFile log;
    log.Open(L"Batch.log");
    EXPECT_TRUE(log.Write(L"before", false));
    {
        CLogBatch lines(log);
        lines.Write(L"one");
        lines.Write(L"");  // nothing, as with Write
        lines.Write(L"two");
        EXPECT_EQ(FromUtf16LE(CorvaneTest::ReadAll(m_folder / "Batch.log")), "\uFEFFbefore\n");
        lines.Flush();
        EXPECT_TRUE(log.Write(L"between", false));
        lines.Write(L"three");
    }
    EXPECT_EQ(
        Shape(FromUtf16LE(CorvaneTest::ReadAll(m_folder / "Batch.log"))),
        "\uFEFFbefore\n" + kHeader + "one\n" + kHeader + "two\nbetween\n" + kHeader + "three\n");
}

TEST_F(LogFile, ABatchDoesNotHoldMoreThanABatchfulOfLines) {
    CLogFile log;
    log.Open(L"Full.log");
    CLogBatch lines(log);
    const std::wstring strLine(1000, L'x');
    for (int i = 0; i < 100; ++i) {
        lines.Write(strLine);
    }
    // 100 lines of 1000 characters are about 200 KB as UTF-16; most of them are on disk already.
    EXPECT_GT(std::filesystem::file_size(m_folder / "Full.log"), 100000u);
}

TEST_F(LogFile, NotOpenWritesNothing) {
    CLogFile log;
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Write(L"lost"));
    EXPECT_TRUE(m_boxes.GetShown().empty());
}

TEST_F(LogFile, UnusableFolderLeavesTheFileClosed) {
    std::filesystem::create_directories(m_folder);
    WriteBytes(m_folder / "plain", "x");
    setenv("CORVANE_LOG_DIR", (m_folder / "plain" / "sub").c_str(), 1);
    CLogFile log;
    EXPECT_TRUE(log.Open(L"Any.log"));  // reports success in every case
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Write(L"lost"));
    EXPECT_TRUE(m_boxes.GetShown().empty());
}

TEST_F(LogFile, FailedWriteShowsOneBoxAndStopsWriting) {
    // /dev/full accepts the open and fails every write.
    setenv("CORVANE_LOG_DIR", "/dev", 1);
    CLogFile log;
    log.Open(L"full");
    ASSERT_TRUE(log.IsOpen());
    EXPECT_FALSE(log.Write(L"first"));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Write(L"second"));
    const auto shown = m_boxes.GetShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].strText, L"Unknown Exception while writing LogFile");
    EXPECT_EQ(shown[0].strCaption, L"Corvane");
    EXPECT_EQ(shown[0].uType, MB_OK);
}

TEST_F(LogFile, ThreadsSharingOneObjectWriteWholeLines) {
    CLogFile log;
    log.Open(L"Shared.log");
    constexpr int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i) {
                log.Write(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string text = FromUtf16LE(CorvaneTest::ReadAll(m_folder / "Shared.log"));
    std::string expected = "\uFEFF";
    for (int i = 0; i < kThreads * kLines; ++i) {
        expected += kHeader + "thread # line #\n";
    }
    EXPECT_EQ(Shape(text), expected);
    EXPECT_EQ(text.rfind("\uFEFF", 0), 0u);
    EXPECT_EQ(text.find("\uFEFF", 1), std::string::npos);
}

TEST_F(LogFile, LoggerWritesSeparatorAndTextEachWithHeader) {
    CLogger logger;
    EXPECT_TRUE(logger.Open(L"ignored"));
    CLogMessage message(L"Cause: x");
    logger.Processmessage(&message);
    CFinishScanMessage other;
    logger.Processmessage(&other);  // not a log message: ignored
    const std::string text = FromUtf16LE(CorvaneTest::ReadAll(m_folder / "Logger.log"));
    EXPECT_EQ(Shape(text), "\uFEFF" + kHeader +
                               "\n--------------- New Log message -------------------\n\n" +
                               kHeader + "\r\n#-#-# #:#:#\nCause: x\n");
}

}  // namespace
