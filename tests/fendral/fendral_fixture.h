// The program's side of an engine operation, as the scan manager runs it: libfendral.so loaded and
// bound by name, the operation started on a real thread by the thread manager, the messages
// handed out by the real message runner to an observer that keeps a copy of each.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/EngineLibrary.h"
#include "app/ThreadManager.h"
#include "core/MessageManager.h"
#include "core/Text.h"
#include "tests/engine/test_target.h"
#include "tests/support/log_folder.h"
#include "tests/support/recorder.h"

namespace Branwick::Testing {

using CorvaneTest::CRecorder;

// Every test of the loaded library shares one Logs folder: the engine opens "Scan.log" once in
// the library's lifetime and keeps it. The folder goes when the tests are over.
inline std::filesystem::path LogsFolder() {
    static const std::filesystem::path folder = [] {
        const auto path = std::filesystem::temp_directory_path() /
                          ("corvane-fendral-logs-" + std::to_string(getpid()));
        std::filesystem::remove_all(path);
        setenv("CORVANE_LOG_DIR", path.c_str(), 1);
        return path;
    }();
    return folder;
}

class CLogsFolderCleaner : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(LogsFolder(), ec);
    }
};

inline ::testing::Environment* const g_pLogsFolderCleaner =
    ::testing::AddGlobalTestEnvironment(new CLogsFolderCleaner);

// The texts of a log file's lines from byte nOffset on, without their time and thread-id header.
inline std::vector<std::wstring> LogLines(const std::string& strFile, std::size_t nOffset = 0) {
    return CorvaneTest::ReadLogFile(LogsFolder() / strFile, nOffset);
}

inline std::size_t LogSize(const std::string& strFile) {
    std::error_code ec;
    const auto nSize = std::filesystem::file_size(LogsFolder() / strFile, ec);
    return ec ? 0 : static_cast<std::size_t>(nSize);
}

class FendralTest : public ::testing::Test {
protected:
    FendralTest() {
        LogsFolder();
        m_messages.Subscribe(CFinishThreadMessage::kType, &m_threads);
        for (std::int32_t nType = 0; nType <= 19; ++nType) {
            m_messages.Subscribe(nType, &m_recorder);
        }
        m_dwRunner = m_threads.StartThread(&CMessageRunnerData::MessageRunnerProc,
                                           std::make_unique<CMessageRunnerData>(&m_messages));
    }
    ~FendralTest() override {
        m_threads.StopAllThreads();
        for (std::int32_t nType = 0; nType <= 19; ++nType) {
            m_messages.Unsubscribe(nType, &m_recorder);
        }
        m_messages.Unsubscribe(CFinishThreadMessage::kType, &m_threads);
    }

    // Starts the entry point with the thread data and returns the thread's id (0: not started).
    DWORD Start(const char* pszEntry, std::unique_ptr<CScanThreadData> pData) {
        std::wstring strError;
        const Platform::ThreadProc routine = m_engine.Bind(pszEntry, strError);
        EXPECT_NE(routine, nullptr) << WideToUtf8(strError);
        return routine == nullptr ? 0 : m_threads.StartThread(routine, std::move(pData));
    }

    // Runs a scan or a fix run to its end: its CFinishThreadMessage has been handled and its log
    // has its last line (written after that message).
    DWORD Run(const char* pszEntry, DWORD dwFlags, Platform::CTarget* pTarget,
              CErrorCollection* pCollection = nullptr) {
        const std::string strLog = pszEntry == kFendralCleanUp ? "Cleanup.log" : "Scan.log";
        const std::size_t nLog = LogSize(strLog);
        const DWORD dwId = Start(pszEntry, std::make_unique<CScanThreadData>(
                                               m_messages.GetSink(), pCollection, dwFlags, pTarget,
                                               &m_box));
        EXPECT_TRUE(m_recorder.WaitFor(CFinishThreadMessage::kType));
        for (int i = 0; i < 6000; ++i) {
            const std::vector<std::wstring> lines = LogLines(strLog, nLog);
            if (!lines.empty() && lines.back() == L"Finishing Thread") {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return dwId;
    }

    // The scan progress of one category: (progress, text) in order.
    std::vector<std::pair<int, std::wstring>> ScanProgress(std::int32_t nScanType) {
        std::vector<std::pair<int, std::wstring>> out;
        for (const auto& m : m_recorder.Of<CScanProgressMessage>()) {
            if (m.m_nScanType == nScanType) {
                out.emplace_back(m.m_nProgress, m.m_strScanDescription);
            }
        }
        return out;
    }

    CMessageManager m_messages;
    CThreadManager m_threads;
    CRecorder m_recorder;
    CRecordingMessageBox m_box;
    CEngineLibrary m_engine;
    DWORD m_dwRunner = 0;
};

}  // namespace Branwick::Testing
