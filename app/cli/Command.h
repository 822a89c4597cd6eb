// The base of corvane-cli's commands: the parsed command line, the command description that the
// table in Commands.h lists, the two kinds of error a command throws, and the helpers that
// several commands share (name lists, finding numbers, refusal to write).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cli/Core.h"
#include "core/MessageBox.h"

namespace Branwick::Cli {

inline constexpr int kOk = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;

// Bad usage: said on stderr, exit status 2.
struct SUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A failure: said on stderr, exit status 1.
struct SFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Keeps the message boxes of the application core to itself for its lifetime, where the command
// says the failure in its own one sentence.
struct SQuietBoxes {
    SQuietBoxes() : pPrevious(SetMessageBox(&box)) {}
    ~SQuietBoxes() { SetMessageBox(pPrevious); }
    SQuietBoxes(const SQuietBoxes&) = delete;
    SQuietBoxes& operator=(const SQuietBoxes&) = delete;
    CRecordingMessageBox box;
    IMessageBox* pPrevious;
};

// The command line after the target options.
struct SArgs {
    std::string strCommand;
    std::vector<std::string> vcWords;                 // positional words after the command
    std::map<std::string, std::string> mapOptions;    // --name value (value "" for flags)
    bool bHelp = false;
    bool bJson = false;
    std::optional<std::string> strPrefix, strWindows, strUser, strKeep;
    std::string strAllowedDrives;  // upper-case letters of --allow-drive
    bool bDemo = false;

    bool Has(const std::string& strName) const { return mapOptions.count(strName) != 0; }
};

struct SOption {
    const char* pszName;  // "--categories"
    bool bValue;          // takes a value
};

class CInvocation;

// One command: its name, its line in the usage text, its help, its own options, and what it does.
struct SCommand {
    const char* pszName;
    const char* pszSummary;
    // The text of "COMMAND --help"; a function, because some lists in it are made from tables.
    std::string (*pfnHelp)();
    std::vector<SOption> vcOptions;
    // Whether the program's scheduled task must be opened with the target (opening it writes
    // the task's job, so only the commands that change it ask for it).
    bool bTask;
    // Whether it works on a target: then the target is opened before it runs, and a target that
    // cannot be opened fails the command before anything else.
    bool bTarget;
    int (*pfnRun)(CInvocation& invocation);
};

// What a command runs with: the command line and, made at its first use, the target's core (so
// that a command that needs no target opens none).
class CInvocation {
public:
    CInvocation(const SCommand& command, const SArgs& args);
    ~CInvocation();
    CInvocation(const CInvocation&) = delete;
    CInvocation& operator=(const CInvocation&) = delete;

    const SArgs& Args() const { return m_args; }
    CCore& Core();
    // Refuses the options the command does not take (every option when bOptions is false).
    void CheckOptions(bool bOptions = true) const;
    // CheckOptions, then refuses any number of words but nWords.
    void CheckWords(std::size_t nWords, bool bOptions = true) const;

private:
    class CDemoFolder;

    const SCommand& m_command;
    const SArgs& m_args;
    std::unique_ptr<CDemoFolder> m_pDemo;
    std::unique_ptr<CCore> m_pCore;
};

std::string Narrow(const std::wstring& s);

// The items of a comma-separated list in order ("a,,b" gives an empty middle item, which the
// caller refuses as it refuses any unknown name).
std::vector<std::string> SplitCommaList(const std::string& strList);

// A name on the command line for a bit.
struct SName {
    const char* pszName;
    DWORD dwBit;
};

extern const std::vector<SName> kCategoryNames;
extern const std::vector<SName> kHistoryItemNames;

// "a, b, c".
std::string NameList(const std::vector<SName>& names);
// A comma-separated list of names, or "all", as their bits; an unknown name is bad usage.
DWORD ParseNames(const std::string& strList, const std::vector<SName>& names, const char* pszWhat);
// The names of the bits, comma-separated; "none" for no bit.
std::string BitNames(DWORD dwBits, const std::vector<SName>& names);
// Finding numbers and ranges ("1,3-7"); anything else is bad usage.
std::set<int> ParseIds(const std::string& strList);

// Refuses a command that writes when the target's registry cannot be written now.
void RequireWritable(CCore& core);
// The categories of --categories, else those of the settings.
DWORD Categories(CInvocation& invocation);
// Scans to the end, or throws the reason it could not.
void RunScan(CCore& core, DWORD dwCategories);
// What fixing the record does, one text per fix.
std::vector<std::string> FixTexts(const CRegError& record);

}  // namespace Branwick::Cli
