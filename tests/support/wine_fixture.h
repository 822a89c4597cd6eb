// The real Wine prefix of the fixtures made into a prefix that may be changed, in a temporary
// folder: for the tests that run scans and fixes on it.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace Branwick::Testing {

// Builds below prefix what the fixture's listing names, from lines "type\tmode\tsize\tpath\tlink
// target": folders, links and empty files. Returns the paths made, relative to prefix.
inline std::vector<std::string> MaterialiseListing(const std::filesystem::path& listing,
                                                   const std::filesystem::path& prefix) {
    namespace fs = std::filesystem;
    std::vector<std::string> made;
    std::ifstream in(listing);
    for (std::string strLine; std::getline(in, strLine);) {
        std::vector<std::string> fields;
        std::stringstream line(strLine);
        for (std::string strField; std::getline(line, strField, '\t');) {
            fields.push_back(strField);
        }
        if (fields.size() < 4) {
            continue;
        }
        const fs::path host = prefix / fields[3];
        fs::create_directories(host.parent_path());
        if (fields[0] == "d") {
            fs::create_directories(host);
        } else if (fields[0] == "l" && fields.size() > 4) {
            fs::create_symlink(fields[4], host);
        } else {
            std::ofstream{host};
        }
        made.push_back(fields[3]);
    }
    return made;
}

// The Wine fixture made into a prefix: its registry files, drive_c from its listing (empty files,
// folders and the links into the home), and the drives c: and z: every prefix has. False when
// drive_c did not come out.
inline bool MaterialiseWineFixture(const std::filesystem::path& fixture,
                                   const std::filesystem::path& prefix) {
    namespace fs = std::filesystem;
    fs::create_directories(prefix / "dosdevices");
    for (const char* pszFile : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(fixture / pszFile, prefix / pszFile);
        fs::permissions(prefix / pszFile, fs::perms::owner_write, fs::perm_options::add);
    }
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    fs::create_directory_symlink("/", prefix / "dosdevices" / "z:");
    MaterialiseListing(fixture / "drive_c-listing.tsv", prefix);
    return fs::exists(prefix / "drive_c" / "windows" / "system32");
}

}  // namespace Branwick::Testing
