// What corvane-cli says about itself, its manual page and its bash completion must agree: the
// manual page lists the commands, verbs and options that the program's help texts list, and the
// completion offers what the program knows, down to the backups of the target on the line.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

// Runs a shell command line; its standard output.
std::string Output(const std::string& strCommand) {
    std::string strOut;
    if (FILE* pPipe = popen(strCommand.c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t n = fread(buffer, 1, sizeof(buffer), pPipe)) {
            strOut.append(buffer, n);
        }
        pclose(pPipe);
    }
    return strOut;
}

std::vector<std::string> Lines(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream in(strText);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool IsNameChar(char c) { return (c >= 'a' && c <= 'z') || c == '-'; }

// The word of lower-case letters and dashes at nAt ("" when there is none).
std::string NameAt(const std::string& strText, std::size_t nAt) {
    std::size_t nEnd = nAt;
    while (nEnd < strText.size() && IsNameChar(strText[nEnd])) {
        ++nEnd;
    }
    return nAt < strText.size() && strText[nAt] >= 'a' && strText[nAt] <= 'z' ? strText.substr(nAt, nEnd - nAt) : "";
}

// The long options ("--name") a text names; with bBold only those set in bold ("*--name*").
Names Options(const std::string& strText, bool bBold = false) {
    Names names;
    for (std::size_t n = strText.find("--"); n != std::string::npos; n = strText.find("--", n + 2)) {
        const std::string strName = NameAt(strText, n + 2);
        const std::size_t nEnd = n + 2 + strName.size();
        if (!strName.empty() && (!bBold || (n > 0 && strText[n - 1] == '*' && nEnd < strText.size() && strText[nEnd] == '*'))) {
            names.insert("--" + strName);
        }
    }
    return names;
}

// The words that follow strLead wherever it occurs ("*backups " gives the verbs in bold).
Names WordsAfter(const std::string& strText, const std::string& strLead) {
    Names names;
    for (std::size_t n = strText.find(strLead); n != std::string::npos; n = strText.find(strLead, n + 1)) {
        if (const std::string strWord = NameAt(strText, n + strLead.size()); !strWord.empty()) {
            names.insert(strWord);
        }
    }
    return names;
}

// What a help text or the manual page says of one command.
struct SCommandFacts {
    Names options;
    Names verbs;
};

struct SFacts {
    Names targetOptions;  // before the commands
    std::map<std::string, SCommandFacts> commands;
};

class CliManualTest : public ::testing::Test {
protected:
    CliManualTest() { fs::create_directories(m_home / "config"); }

    // corvane-cli with its logs and configuration in the test's folder; its standard output.
    std::string Cli(const std::string& strArgs) const {
        return Output(Environment() + CORVANE_BIN_DIR "/corvane-cli " + strArgs + " 2>/dev/null");
    }
    std::string Environment() const {
        return "env -u WINEPREFIX HOME=" + m_home.Path().string() + " CORVANE_LOG_DIR=" + (m_home / "Logs").string() +
               " XDG_CONFIG_HOME=" + (m_home / "config").string() + " ";
    }

    // The facts of the program's help texts: "--help" lists the commands and the target options;
    // each "COMMAND --help" its verbs (the alternatives of its usage line) and its options (those of
    // its usage lines and of its indented option lines; prose that names another command's option
    // does not count).
    SFacts FromHelp() const {
        SFacts facts;
        bool bCommands = false;
        for (const std::string& line : Lines(Cli("--help"))) {
            const std::string strCommand = line.starts_with("  ") ? NameAt(line, 2) : "";
            if (line == "Commands:") {
                bCommands = true;
            } else if (bCommands && !strCommand.empty() && line.size() > strCommand.size() + 2 &&
                       line[strCommand.size() + 2] == ' ') {
                facts.commands[strCommand] = {};
            } else {
                facts.targetOptions.merge(Options(line));
            }
        }
        for (auto& [strName, command] : facts.commands) {
            bool bUsage = false;
            for (const std::string& line : Lines(Cli(strName + " --help"))) {
                bUsage = line.starts_with("Usage:") || (bUsage && !line.empty());
                const std::size_t nFirst = line.find_first_not_of(' ');
                if (bUsage || (nFirst > 0 && nFirst != std::string::npos && line.compare(nFirst, 2, "--") == 0)) {
                    command.options.merge(Options(line));
                }
                if (const std::size_t nAt = line.find(" " + strName + " "); line.starts_with("Usage:") && nAt != std::string::npos) {
                    std::istringstream alternatives(line.substr(nAt + strName.size() + 2));
                    for (std::string alternative; std::getline(alternatives, alternative, '|');) {
                        const std::string strVerb = NameAt(alternative, 0);
                        if (!strVerb.empty() && strVerb.find('-') == std::string::npos &&
                            (alternative.size() == strVerb.size() || alternative[strVerb.size()] == ' ')) {
                            command.verbs.insert(strVerb);
                        }
                    }
                }
            }
        }
        return facts;
    }

    // The facts of the manual page's source: the options in bold before "# COMMANDS"; below it,
    // one "## NAME" section per command with its options in bold and its verbs as "*NAME VERB".
    static SFacts FromManual() {
        std::ifstream in(CORVANE_SOURCE_DIR "/docs/man/corvane-cli.1.scd");
        SFacts facts;
        bool bCommands = false;
        std::string strCommand;
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("# ")) {
                bCommands = line == "# COMMANDS";
                if (bCommands || facts.commands.empty()) {
                    continue;
                }
                break;  // the sections after the commands only explain
            }
            if (bCommands && line.starts_with("## ")) {
                strCommand = line.substr(3);
                facts.commands[strCommand] = {};
                continue;
            }
            const Names options = Options(line, true);
            if (!bCommands) {
                facts.targetOptions.insert(options.begin(), options.end());
            } else if (!strCommand.empty()) {
                SCommandFacts& command = facts.commands[strCommand];
                command.options.insert(options.begin(), options.end());
                command.verbs.merge(WordsAfter(line, "*" + strCommand + " "));
            }
        }
        return facts;
    }

    // The completion's answers (one per line) for the words of a command line whose last word is
    // the one being completed.
    Names Complete(const std::vector<std::string>& vcWords) const {
        std::string strWords;
        for (const std::string& word : vcWords) {
            strWords += " '" + word + "'";
        }
        const fs::path script = m_home / "complete.sh";
        std::ofstream(script) << "source " CORVANE_SOURCE_DIR "/app/cli/corvane-cli.bash\n"
                              << "COMP_WORDS=(corvane-cli" << strWords << ")\n"
                              << "COMP_CWORD=" << vcWords.size() << "\n"
                              << "_corvane_cli\n"
                              << "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
        const std::string strOut = Output(Environment() + "PATH=" CORVANE_BIN_DIR ":$PATH bash " + script.string());
        Names names;
        for (const std::string& line : Lines(strOut)) {
            if (!line.empty()) {
                names.insert(line);
            }
        }
        return names;
    }

    CorvaneTest::CTempFolder m_home{"corvane-manual"};
};

TEST_F(CliManualTest, ManualPageListsWhatTheHelpLists) {
    const SFacts help = FromHelp();
    const SFacts manual = FromManual();
    ASSERT_GE(help.commands.size(), 11u) << "the help could not be read";
    ASSERT_TRUE(help.targetOptions.count("--prefix") == 1 && help.commands.at("backups").verbs.count("restore") == 1)
        << "the help could not be read";

    Names helpCommands, manualCommands;
    for (const auto& [strName, command] : help.commands) {
        helpCommands.insert(strName);
    }
    for (const auto& [strName, command] : manual.commands) {
        manualCommands.insert(strName);
    }
    EXPECT_EQ(manualCommands, helpCommands) << "docs/man/corvane-cli.1.scd must have a section per command";
    EXPECT_EQ(manual.targetOptions, help.targetOptions) << "docs/man/corvane-cli.1.scd must list the target options";
    for (const auto& [strName, command] : help.commands) {
        if (manual.commands.count(strName) == 0) {
            continue;
        }
        EXPECT_EQ(manual.commands.at(strName).options, command.options)
            << "docs/man/corvane-cli.1.scd must list the options of " << strName;
        EXPECT_EQ(manual.commands.at(strName).verbs, command.verbs)
            << "docs/man/corvane-cli.1.scd must list the verbs of " << strName;
    }
}

TEST_F(CliManualTest, ManualPagesAreMadeForEveryProgram) {
    for (const char* pszProgram : {"corvane", "corvane-cli", "corvane-formats"}) {
        const fs::path page = fs::path(CORVANE_BIN_DIR) / ".." / "share/man/man1" / (std::string(pszProgram) + ".1");
        std::ifstream in(page);
        const std::string strPage((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(strPage.find(".TH \"" + std::string(pszProgram) + "\" \"1\""), std::string::npos) << page;
    }
}

TEST_F(CliManualTest, CompletionOffersTheCommandsAndOptionsOfTheProgram) {
    const SFacts help = FromHelp();
    Names commands;
    for (const auto& [strName, command] : help.commands) {
        commands.insert(strName);
    }
    EXPECT_EQ(Complete({""}), commands);
    Names fixOptions = help.commands.at("fix").options;
    fixOptions.insert("--help");
    EXPECT_EQ(Complete({"fix", "--"}), fixOptions);
    EXPECT_EQ(Complete({"--demo", "backups", ""}), help.commands.at("backups").verbs);
    // An option's value is not taken for the command.
    EXPECT_EQ(Complete({"--prefix", "scan", "--"}), Complete({"--"}));
}

TEST_F(CliManualTest, CompletionOffersTheNamesOfTheProgramsTables) {
    EXPECT_EQ(Complete({"scan", "--categories", "com,sh"}), (Names{"com,shared-dlls", "com,shortcuts"}));
    EXPECT_EQ(Complete({"history", "--items", "recy"}), Names{"recycle-bin"});
    EXPECT_EQ(Complete({"settings", "set", "history-items", "firefox-cache,windows-"}),
              (Names{"firefox-cache,windows-logs", "firefox-cache,windows-temp"}));
    EXPECT_EQ(Complete({"settings", "set", "fix-after-scan", ""}), (Names{"on", "off"}));
    EXPECT_EQ(Complete({"settings", "set", "categories", ""}).count("file-associations"), 1u);
    EXPECT_EQ(Complete({"schedule", "add", "mo"}), Names{"monthly"});
}

TEST_F(CliManualTest, CompletionOffersTheBackupsOfTheTargetOnTheLine) {
    const fs::path prefix = m_home / "prefix";
    Cli("--demo --keep " + prefix.string() + " fix");
    const std::string strList = Cli("--prefix " + prefix.string() + " backups list");
    const std::string strName = strList.substr(0, strList.find('\t'));
    ASSERT_TRUE(strName.starts_with("Corvanes_")) << strList;

    EXPECT_EQ(Complete({"--prefix", prefix.string(), "backups", "restore", "Corv"}), Names{strName});
    EXPECT_EQ(Complete({"--demo", "--keep", prefix.string(), "backups", "delete", ""}), Names{strName});
    // The shell has not expanded a ~ of the line yet.
    EXPECT_EQ(Complete({"--prefix", "~/prefix", "backups", "restore", ""}), Names{strName});
    // Another prefix has backups of its own, here none.
    const fs::path other = m_home / "other";
    Cli("--demo --keep " + other.string() + " scan");
    EXPECT_EQ(Complete({"--prefix", other.string(), "backups", "restore", ""}), Names{});
}

TEST_F(CliManualTest, CompletionOffersTheUsersOfAWindowsVolume) {
    const fs::path volume = m_home / "volume";
    fs::create_directories(volume / "Users" / "alice");
    fs::create_directories(volume / "Users" / "albert");
    fs::create_directories(volume / "Users" / "bob");
    EXPECT_EQ(Complete({"--windows", volume.string(), "--user", "al"}), (Names{"albert", "alice"}));
}

}  // namespace
