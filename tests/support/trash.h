// Test support: an entry of the desktop's trash below an XDG data folder, as a file manager puts
// it there: the file and its .trashinfo naming the place it came from.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace CorvaneTest {

inline void PutInTrash(const std::filesystem::path& dataHome, const std::string& strName,
                       const std::string& strFrom) {
    std::filesystem::create_directories(dataHome / "Trash" / "files");
    std::filesystem::create_directories(dataHome / "Trash" / "info");
    std::ofstream(dataHome / "Trash" / "files" / strName) << "x";
    std::ofstream(dataHome / "Trash" / "info" / (strName + ".trashinfo"))
        << "[Trash Info]\nPath=" << strFrom << "\nDeletionDate=2026-01-02T03:04:05\n";
}

}  // namespace CorvaneTest
