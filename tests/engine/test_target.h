// A target for engine tests: a fresh temporary folder as drive C: and an in-memory registry filled
// from Wine's text notation. Shared by the engine's unit tests and the tests of the loaded library.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/registry/registry.h"
#include "platform/target/target.h"
#include "tests/support/temp_folder.h"

namespace Branwick::Testing {

class CTestTarget {
public:
    // machine and user are the bodies of .reg files for HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER;
    // the environment is built from them when the target opens.
    CTestTarget(bool b64Bit, const std::string& machine, const std::string& user = "") {
        std::filesystem::create_directories(m_folder / "windows" / "system32");
        m_registry = Platform::CRegistry::CreateInMemory({.m_b64Bit = b64Bit});
        m_bImported = m_registry.ImportText(HKEY_LOCAL_MACHINE, machine).Ok() &&
                      m_registry.ImportText(HKEY_CURRENT_USER, user).Ok() &&
                      m_registry.Flush().Ok();
        m_pTarget = Platform::CTarget::OpenTest(m_folder.Path().string(), m_registry);
    }
    CTestTarget(const CTestTarget&) = delete;
    CTestTarget& operator=(const CTestTarget&) = delete;

    bool Imported() const { return m_bImported; }
    Platform::CTarget* Get() const { return m_pTarget.get(); }
    const Platform::CRegistry& Registry() const { return m_registry; }
    const std::filesystem::path& Folder() const { return m_folder.Path(); }

    // Creates the file (and its folders) at a path relative to drive C:, '/'-separated.
    void MakeFile(const std::string& strRelative, const std::string& strData = "") const {
        const std::filesystem::path file = m_folder / strRelative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << strData;
    }
    bool HostExists(const std::string& strRelative) const {
        return std::filesystem::exists(m_folder / strRelative);
    }

private:
    CorvaneTest::CTempFolder m_folder{"corvane-engine"};
    Platform::CRegistry m_registry;
    bool m_bImported = false;
    std::unique_ptr<Platform::CTarget> m_pTarget;
};

}  // namespace Branwick::Testing
