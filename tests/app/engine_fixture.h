// The application core around the loaded engine, as the program runs it: a demo prefix, the
// message runner and thread manager on real threads, the scan manager (and the backup manager)
// over libfendral.so, and an observer that waits for messages.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "app/BackUp/BackUp.h"
#include "app/ScanManager.h"
#include "core/Text.h"
#include "platform/demo/demo.h"
#include "tests/support/recorder.h"

namespace Branwick::Testing {

class EngineTest : public ::testing::Test {
protected:
    static constexpr std::int32_t kTypes[] = {2, 3, 4, 6, 7, 9, 10};

    EngineTest() {
        m_folder = std::filesystem::temp_directory_path() /
                   ("corvane-app-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        setenv("CORVANE_LOG_DIR", (m_folder / "Logs").c_str(), 1);
        std::wstring strError;
        EXPECT_TRUE(Platform::MakeDemoPrefix((m_folder / "prefix").string(), nullptr, strError))
            << WideToUtf8(strError);
        m_pTarget = Platform::CTarget::OpenWinePrefix((m_folder / "prefix").string(), strError);
        EXPECT_NE(m_pTarget, nullptr) << WideToUtf8(strError);
        m_previousBox = SetMessageBox(&m_box);
        m_messages.Subscribe(CFinishThreadMessage::kType, &m_threads);
        m_threads.StartThread(&CMessageRunnerData::MessageRunnerProc,
                              std::make_unique<CMessageRunnerData>(&m_messages));
        m_strData = m_pTarget->DataFolder();
        m_pTarget->CreateDataFolder();
        m_pScan = std::make_unique<CScanManager>(m_messages, m_threads, *m_pTarget, m_strData,
                                                 &m_box);
        // After the scan manager: it has handled a message when the counter sees it.
        for (const std::int32_t nType : kTypes) {
            m_messages.Subscribe(nType, &m_counter);
        }
    }
    ~EngineTest() override {
        m_pBackUps.reset();
        m_pScan.reset();
        m_threads.StopAllThreads();
        for (const std::int32_t nType : kTypes) {
            m_messages.Unsubscribe(nType, &m_counter);
        }
        m_messages.Unsubscribe(CFinishThreadMessage::kType, &m_threads);
        SetMessageBox(m_previousBox);
        std::filesystem::remove_all(m_folder);
    }

    CBackUpManager& BackUps() {
        if (!m_pBackUps) {
            m_pBackUps = std::make_unique<CBackUpManager>(m_messages, m_threads, *m_pScan,
                                                          *m_pTarget, m_strData);
            // The counter must hear of a backup's end after the backup manager has handled it.
            for (const std::int32_t nType : kTypes) {
                m_messages.Unsubscribe(nType, &m_counter);
                m_messages.Subscribe(nType, &m_counter);
            }
        }
        return *m_pBackUps;
    }

    // Writes the quiet times (seconds from now per category index) into the target's key.
    void SetQuietTimes(const std::array<std::int64_t, 12>& offsets) {
        Platform::CRegKey key;
        ASSERT_EQ(m_pTarget->Registry().CreateKey(HKEY_LOCAL_MACHINE, kCorvaneKey,
                                                  KEY_ALL_ACCESS | kCorvaneKeyView, &key),
                  ERROR_SUCCESS);
        Platform::CRegBytes bytes;
        const std::int64_t nNow = std::time(nullptr);
        for (const std::int64_t nOffset : offsets) {
            const auto u = static_cast<std::uint64_t>(nNow + nOffset);
            for (int i = 0; i < 8; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
            }
        }
        ASSERT_EQ(key.SetValue(kQuietTimesValue, REG_BINARY, bytes), ERROR_SUCCESS);
    }

    // A scan of dwCategories through the loaded engine, with the findings posted into the sink
    // as the engine's scanners post them; returns when all of them have been handled.
    void Scan(DWORD dwCategories, const std::vector<CRegError>& vcFindings) {
        m_counter.Clear();
        ASSERT_NE(m_pScan->StartScan(dwCategories), 0u) << WideToUtf8(m_pScan->GetLastError());
        for (const CRegError& record : vcFindings) {
            m_messages.GetSink()->Post(
                std::make_unique<CErrorFoundMessage>(record, record.m_nScanType));
        }
        ASSERT_TRUE(m_counter.WaitFor(CFinishScanMessage::kType));
        // The engine may finish before the test's own findings have been posted.
        std::map<std::wstring, int> expected;
        for (const CRegError& record : vcFindings) {
            ++expected[record.m_sDescription];
        }
        for (const auto& [strDescription, nCount] : expected) {
            ASSERT_TRUE(m_counter.WaitForFound(strDescription, nCount));
        }
        ASSERT_FALSE(m_pScan->IsScanning());
    }

    // The test's own findings of the category in the collection (the engine's scanners may add
    // the demo's planted problems beside them).
    std::size_t TestFindings(std::int32_t nBit) {
        std::size_t n = 0;
        for (const CRegError& record : m_pScan->GetErrors()[static_cast<ScanType>(nBit)]) {
            n += record.m_sDescription == L"Test finding" ? 1 : 0;
        }
        return n;
    }

    static CRegError Finding(std::int32_t nBit, const std::wstring& strPath) {
        return CRegError(nBit, HKEY_LOCAL_MACHINE, strPath, L"Test finding", KEY_WOW64_32KEY, true);
    }

    std::filesystem::path m_folder;
    std::unique_ptr<Platform::CTarget> m_pTarget;
    CRecordingMessageBox m_box;
    IMessageBox* m_previousBox = nullptr;
    CMessageManager m_messages;
    CThreadManager m_threads;
    CorvaneTest::CRecorder m_counter;
    std::wstring m_strData;
    std::unique_ptr<CScanManager> m_pScan;
    std::unique_ptr<CBackUpManager> m_pBackUps;
};

}  // namespace Branwick::Testing
