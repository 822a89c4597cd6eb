// corvane-cli startup: the programs the target starts when its user logs on.
#include <iostream>

#include <json/json.h>

#include "app/cli/Commands.h"
#include "tools/startup/StartupManager.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] startup list|disable IDS|enable IDS|delete IDS [--json]

The programs the target starts when its user logs on: the Run values of the machine and of the
user, the user's Startup folder and the all-users Startup folder, and the entries disabled here.
  list           every entry, numbered, with its command or file and whether it is enabled
  disable IDS    disables entries (numbers of the list, ranges like 3-7): a Run value is deleted
                 and remembered, a file is moved into the Tmp folder of the program's data folder
  enable IDS     puts disabled entries back where they were
  delete IDS     deletes entries: a Run value for good, a file into the Tmp folder; a disabled
                 entry is forgotten
)";
}

const char* State(const CStartupItem& item) {
    return item.m_bEnabled ? "Enabled" : "Disabled";
}

void List(const std::vector<CStartupItem>& items, bool b64Bit, bool bJson) {
    Json::Value out(Json::arrayValue);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const CStartupItem& item = items[i];
        if (bJson) {
            Json::Value entry;
            entry["id"] = static_cast<Json::UInt>(i + 1);
            entry["name"] = Narrow(item.m_strName);
            entry["path"] = Narrow(item.m_strData);
            entry["state"] = State(item);
            entry["location"] = Narrow(StartupLocation(item, b64Bit));
            entry["allUsers"] = item.m_bAllUsers;
            out.append(entry);
        } else {
            std::cout << "  " << i + 1 << ". " << Narrow(item.m_strName) << "  [" << State(item) << "]\n     "
                      << Narrow(item.m_strData) << "\n     " << Narrow(StartupLocation(item, b64Bit)) << "\n";
        }
    }
    if (bJson) {
        std::cout << out << "\n";
    } else {
        std::cout << "Total: " << items.size() << " entr" << (items.size() == 1 ? "y" : "ies") << ".\n";
    }
}

struct SVerb {
    const char* pszWord;
    const char* pszDone;
    bool bEnable;
    bool bRemove;
};

constexpr SVerb kVerbs[] = {
    {"disable", "Disabled", false, false},
    {"enable", "Enabled", true, false},
    {"delete", "Deleted", false, true},
};

int Change(CStartupManager& manager, std::vector<CStartupItem> items, const SVerb& verb, const std::string& strIds,
           bool bJson) {
    const std::set<int> ids = ParseIds(strIds);
    for (const int nId : ids) {
        if (nId > static_cast<int>(items.size())) {
            throw SFailure("There is no entry " + std::to_string(nId) + "; the list has " +
                           std::to_string(items.size()) + ".");
        }
    }
    Json::Value out(Json::arrayValue);
    int nFailed = 0;
    for (const int nId : ids) {
        const CStartupItem& item = items[static_cast<std::size_t>(nId - 1)];
        const CStatus result = manager.SetStartupState(item, verb.bEnable, verb.bRemove);
        nFailed += !result.Ok();
        if (bJson) {
            Json::Value entry;
            entry["id"] = nId;
            entry["name"] = Narrow(item.m_strName);
            entry["ok"] = result.Ok();
            if (!result.Ok()) {
                entry["error"] = Narrow(result.m_strText);
            }
            out.append(entry);
        } else if (result.Ok()) {
            std::cout << verb.pszDone << ": " << Narrow(item.m_strName) << "\n";
        } else {
            std::cerr << Narrow(item.m_strName) << ": " << Narrow(result.m_strText) << "\n";
        }
    }
    if (bJson) {
        std::cout << out << "\n";
    }
    return nFailed == 0 ? kOk : kFailure;
}

int Run(CInvocation& invocation) {
    const SArgs& args = invocation.Args();
    const std::string strVerb = args.vcWords.empty() ? "" : args.vcWords[0];
    invocation.CheckWords(strVerb == "list" ? 1 : 2);
    CCore& core = invocation.Core();
    CStartupManager manager(core.Target(), core.Settings(), core.DataFolder());
    std::vector<CStartupItem> items = manager.List();
    if (strVerb == "list") {
        List(items, core.Target().Is64Bit(), args.bJson);
        return kOk;
    }
    for (const SVerb& verb : kVerbs) {
        if (strVerb == verb.pszWord) {
            return Change(manager, std::move(items), verb, args.vcWords[1], args.bJson);
        }
    }
    throw SUsageError("'" + strVerb + "' is not list, disable, enable or delete; see corvane-cli startup --help.");
}

}  // namespace

const SCommand kStartupCommand = {"startup", "list or change the programs started at logon",
                                  &Help, {}, false, true, &Run};

}  // namespace Branwick::Cli
