// Builds the reputation database "Processes.db" from the list in data/processes/:
//   make_processes_db LIST OUTPUT
// Each line of the list is "table | file name | reason | source"; a line that is not, a table
// other than "unwanted" or "malicious", an empty field or a name listed twice stops the build,
// so that nothing unchecked is shipped. The database appears complete or not at all.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tools/ProcessManager/CppSQLite3.h"

namespace {

struct CEntry {
    std::string m_strTable;
    std::string m_strName;
    std::string m_strReason;
    std::string m_strSource;
};

std::string Trim(const std::string& str) {
    const std::size_t first = str.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return str.substr(first, str.find_last_not_of(" \t\r") - first + 1);
}

bool ReadList(const std::string& strPath, std::vector<CEntry>& vcOut) {
    std::ifstream in(strPath);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", strPath.c_str());
        return false;
    }
    std::set<std::string> names;
    std::string strLine;
    for (int nLine = 1; std::getline(in, strLine); ++nLine) {
        const std::string strText = Trim(strLine);
        if (strText.empty() || strText[0] == '#') {
            continue;
        }
        std::vector<std::string> vcFields;
        for (std::size_t start = 0;;) {
            const std::size_t bar = strText.find('|', start);
            vcFields.push_back(Trim(strText.substr(start, bar == std::string::npos ? bar : bar - start)));
            if (bar == std::string::npos) {
                break;
            }
            start = bar + 1;
        }
        const char* pszError = nullptr;
        if (vcFields.size() != 4) {
            pszError = "expected \"table | file name | reason | source\"";
        } else if (vcFields[0] != "unwanted" && vcFields[0] != "malicious") {
            pszError = "the table is \"unwanted\" or \"malicious\"";
        } else if (vcFields[1].empty() || vcFields[2].empty() || vcFields[3].empty()) {
            pszError = "every entry needs a file name, a reason and a source";
        } else if (!names.insert(vcFields[1]).second) {
            pszError = "this file name is listed already";
        }
        if (pszError != nullptr) {
            std::fprintf(stderr, "%s:%d: %s\n", strPath.c_str(), nLine, pszError);
            return false;
        }
        vcOut.push_back({vcFields[0], vcFields[1], vcFields[2], vcFields[3]});
    }
    return true;
}

void Write(const std::string& strPath, const std::vector<CEntry>& vcEntries) {
    CppSQLite3DB db;
    db.open(strPath, true);
    db.execDML("BEGIN;"
               "CREATE TABLE unwanted (process_name TEXT NOT NULL, reason TEXT NOT NULL, source TEXT NOT NULL);"
               "CREATE TABLE malicious (process_name TEXT NOT NULL, reason TEXT NOT NULL, source TEXT NOT NULL);"
               "CREATE INDEX unwanted_name ON unwanted (process_name);"
               "CREATE INDEX malicious_name ON malicious (process_name);");
    for (const char* pszTable : {"unwanted", "malicious"}) {
        CppSQLite3Statement insert = db.compileStatement(std::string("INSERT INTO ") + pszTable +
                                                         " (process_name, reason, source) VALUES (?, ?, ?)");
        for (const CEntry& entry : vcEntries) {
            if (entry.m_strTable == pszTable) {
                insert.bind(1, entry.m_strName);
                insert.bind(2, entry.m_strReason);
                insert.bind(3, entry.m_strSource);
                insert.execDML();
            }
        }
    }
    db.execDML("COMMIT;");
    db.close();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_processes_db LIST OUTPUT\n");
        return 2;
    }
    std::vector<CEntry> vcEntries;
    if (!ReadList(argv[1], vcEntries)) {
        return 1;
    }
    const std::string strOut = argv[2];
    const std::string strTemp = strOut + ".new";
    std::error_code ec;
    std::filesystem::remove(strTemp, ec);
    try {
        Write(strTemp, vcEntries);
    } catch (const CppSQLite3Exception& e) {
        std::fprintf(stderr, "%s: %s\n", strTemp.c_str(), e.errorMessage());
        std::filesystem::remove(strTemp, ec);
        return 1;
    }
    std::filesystem::rename(strTemp, strOut, ec);
    if (ec) {
        std::fprintf(stderr, "%s: %s\n", strOut.c_str(), ec.message().c_str());
        return 1;
    }
    return 0;
}
