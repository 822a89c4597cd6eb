// Test support: a fresh, empty folder in the temporary folder, removed with everything in it when
// the object goes, and files written and read back whole.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace CorvaneTest {

class CTempFolder {
public:
    explicit CTempFolder(const std::string& strName = "corvane-test")
        : m_path(std::filesystem::temp_directory_path() /
                 (strName + "-" + std::to_string(getpid()) + "-" + std::to_string(s_nNext++))) {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~CTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return m_path / relative;
    }

private:
    static inline std::atomic<int> s_nNext{0};
    std::filesystem::path m_path;
};

// Writes a file, making its folders first.
inline void Touch(const std::filesystem::path& file, const std::string& strText = "") {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << strText;
}

// The whole content of a file; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace CorvaneTest
