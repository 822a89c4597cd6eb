// A target for the fix and backup tests: a 64-bit in-memory registry, drive C: in a temporary
// folder, and a sink whose log lines the test can read back; fixes run against them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Fix.h"
#include "core/MessageSink.h"
#include "core/Text.h"
#include "tests/support/temp_folder.h"

namespace Branwick::Test {

inline Platform::CRegBytes Sz(const std::wstring& s) {
    Platform::CRegBytes out;
    for (char c : WideToUtf16LE(s)) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

class CTargetTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_root / "drive_c");
        m_registry = Platform::CRegistry::CreateInMemory();
        m_pTarget = Platform::CTarget::OpenTest((m_root / "drive_c").string(), m_registry);
    }

    // Runs the fix on the test's target, its log lines into the test's sink.
    int Fix(IFix& fix) { return fix.Fix({*m_pTarget, &m_sink}); }

    // The texts of the log messages posted since the last call, without their time stamps.
    std::vector<std::wstring> TakeLog() {
        std::vector<std::wstring> out;
        while (std::unique_ptr<CMessage> p = m_queue.PopFront()) {
            if (p->m_nType == CLogMessage::kType) {
                const std::wstring& s = static_cast<CLogMessage&>(*p).m_strText;
                out.push_back(s.substr(s.find(L'\n', 2) + 1));
            }
        }
        return out;
    }

    void Import(HKEY hRoot, std::string_view strText) {
        ASSERT_EQ(m_registry.ImportText(hRoot, strText).m_lCode, ERROR_SUCCESS);
    }
    bool KeyExists(HKEY hRoot, const std::wstring& strPath, REGSAM sam = 0) const {
        Platform::CRegKey key;
        return m_registry.OpenKey(hRoot, strPath, sam, &key) == ERROR_SUCCESS;
    }
    std::string Export() const { return m_registry.ExportText(HKEY_LOCAL_MACHINE, L""); }

    CorvaneTest::CTempFolder m_temp{"corvane-core"};
    const std::filesystem::path m_root = m_temp.Path();
    Platform::CRegistry m_registry;
    std::unique_ptr<Platform::CTarget> m_pTarget;
    CMessageQueue m_queue;
    CMessageSink m_sink{&m_queue};
};

}  // namespace Branwick::Test
