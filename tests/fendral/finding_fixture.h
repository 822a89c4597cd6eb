// What the tests of the scanners share: the findings of a scan through the loaded library, a fix
// run of them as the program runs it, and looks into the target's registry afterwards.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/fendral/fendral_fixture.h"

namespace Branwick::Testing {

// Machine registry text that gives a test target its data folder, where a fix run saves its
// history file.
inline const std::string kDataFolder = R"(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProgramData"="C:\\ProgramData"
)";

class FindingFixture : public FendralTest {
protected:
    // A test target whose registry also has the data folder.
    static std::unique_ptr<CTestTarget> MakeTarget(bool b64Bit, const std::string& machine,
                                                   const std::string& user = "") {
        return std::make_unique<CTestTarget>(b64Bit, kDataFolder + machine, user);
    }

    // The records the scan posted in a category, in order.
    std::vector<CRegError> Findings(std::int32_t nScanType) {
        std::vector<CRegError> out;
        for (const CErrorFoundMessage& m : m_recorder.Of<CErrorFoundMessage>()) {
            EXPECT_EQ(m.m_nScanType, m.m_regError.m_nScanType);
            if (m.m_nScanType == nScanType) {
                out.push_back(m.m_regError);
            }
        }
        return out;
    }

    std::vector<CRegError> Scan(std::int32_t nScanType, Platform::CTarget& target) {
        m_recorder.Clear();
        Run(kFendralScan, static_cast<DWORD>(nScanType), &target);
        return Findings(nScanType);
    }

    static std::vector<std::wstring> FixTexts(const CRegError& record) {
        std::vector<std::wstring> out;
        for (const auto& pFix : record.GetFixes()) {
            out.push_back(pFix->GetDescription());
        }
        return out;
    }

    // Fixes every record as the program does after the user accepted them all; the number fixed.
    int FixAll(CTestTarget& target, const std::vector<CRegError>& records) {
        return FixAll(*target.Get(), records);
    }
    int FixAll(Platform::CTarget& target, const std::vector<CRegError>& records) {
        CErrorCollection collection;
        DWORD dwFlags = 0;
        for (const CRegError& record : records) {
            auto& list = collection[static_cast<ScanType>(record.m_nScanType)];
            list.push_back(record);
            list.back().m_nState = 1;
            dwFlags |= static_cast<DWORD>(record.m_nScanType);
        }
        m_recorder.Clear();
        Run(kFendralCleanUp, dwFlags, &target, &collection);
        int nFixed = 0;
        for (const CFinishFixMessage& m : m_recorder.Of<CFinishFixMessage>()) {
            for (const auto& [nBit, counts] : m.m_mapStatistics) {
                nFixed += counts.nFixed;
            }
        }
        return nFixed;
    }

    static bool HasKey(const Platform::CRegistry& registry, HKEY hRoot, const std::wstring& strPath,
                       REGSAM dwView = 0) {
        Platform::CRegKey key;
        return registry.OpenKey(hRoot, strPath, KEY_READ | dwView, &key) == ERROR_SUCCESS;
    }

    static bool HasValue(const Platform::CRegistry& registry, HKEY hRoot,
                         const std::wstring& strPath, const std::wstring& strName,
                         REGSAM dwView = 0) {
        Platform::CRegKey key;
        DWORD dwType = 0;
        Platform::CRegBytes data;
        return registry.OpenKey(hRoot, strPath, KEY_READ | dwView, &key) == ERROR_SUCCESS &&
               key.QueryValue(strName, &dwType, &data) == ERROR_SUCCESS;
    }

    static std::vector<std::wstring> ValueNames(const Platform::CRegistry& registry, HKEY hRoot,
                                                const std::wstring& strPath, REGSAM dwView = 0) {
        std::vector<std::wstring> out;
        Platform::CRegKey key;
        if (registry.OpenKey(hRoot, strPath, KEY_READ | dwView, &key) == ERROR_SUCCESS) {
            Platform::CRegValue value;
            for (DWORD i = 0; key.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
                out.push_back(value.m_strName);
            }
        }
        return out;
    }

    static std::vector<std::wstring> Paths(const std::vector<CRegError>& records) {
        std::vector<std::wstring> out;
        for (const CRegError& record : records) {
            out.push_back(record.m_sPath);
        }
        return out;
    }
};

}  // namespace Branwick::Testing
