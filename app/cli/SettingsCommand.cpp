// corvane-cli settings: shows or changes the settings.
#include <iostream>

#include "app/cli/Commands.h"
#include "core/HistoryItems.h"
#include "core/Text.h"
#include "tools/FileFormatHelp/FileFormatHelp.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] settings show|set NAME VALUE

  show               prints every setting
  set NAME VALUE     changes one:
      backup-before-fix on|off   take a backup before every fix
      fix-after-scan on|off      fix at once after a scan (desktop program)
      hide-after-fix on|off      hide the window after a fix (desktop program)
      categories LIST            the categories a scan covers ("all" for every one)
      history-items LIST         the items history cleaning erases ("all" for every one)
      format-service URL         the file format service that format asks (http://HOST:PORT;
                                 "" for the one the program runs itself)
)";
}

struct SFlag {
    const char* pszName;
    DWORD dwBit;
};

constexpr SFlag kFlags[] = {{"backup-before-fix", CSettings::GENERAL_BACKUP_BEFORE_FIX},
                            {"fix-after-scan", CSettings::GENERAL_FIX_AFTER_SCAN},
                            {"hide-after-fix", CSettings::GENERAL_HIDE_AFTER_FIX}};

bool ParseOnOff(const std::string& strValue) {
    if (strValue == "on") {
        return true;
    }
    if (strValue == "off") {
        return false;
    }
    throw SUsageError("The value must be on or off.");
}

void Show(CSettings& settings) {
    for (const SFlag& flag : kFlags) {
        std::cout << flag.pszName << " " << ((settings.GetGeneral() & flag.dwBit) ? "on" : "off")
                  << "\n";
    }
    std::cout << "categories " << BitNames(settings.GetScanFlags(), kCategoryNames) << "\n"
              << "history-items " << BitNames(settings.GetHistoryFlags(), kHistoryItemNames)
              << "\n"
              << "format-service " << WideToUtf8(settings.GetFormatService()) << "\n"
              << "file " << Narrow(settings.GetPath()) << "\n";
}

// False for a name that is no setting.
bool Set(CSettings& settings, const std::string& strName, const std::string& strValue) {
    for (const SFlag& flag : kFlags) {
        if (strName == flag.pszName) {
            settings.SetGeneralFlag(flag.dwBit, ParseOnOff(strValue));
            return true;
        }
    }
    if (strName == "categories") {
        const DWORD dw = ParseNames(strValue, kCategoryNames, "category");
        settings.RemoveScanFlags(kAllScanTypes & ~dw);
        settings.AddScanFlags(dw);
        return true;
    }
    if (strName == "history-items") {
        const DWORD dw = ParseNames(strValue, kHistoryItemNames, "history item");
        settings.RemoveHistoryFlags(kAllHistoryItems & ~dw);
        settings.AddHistoryFlags(dw);
        return true;
    }
    if (strName == "format-service") {
        SServiceAddress address;
        if (!strValue.empty() && !ParseServiceAddress(Utf8ToWide(strValue), address)) {
            throw SUsageError("format-service takes an address like http://HOST:PORT, not \"" + strValue + "\".");
        }
        settings.SetFormatService(Utf8ToWide(strValue));
        return true;
    }
    return false;
}

int Run(CInvocation& invocation) {
    const SArgs& args = invocation.Args();
    CSettings& settings = invocation.Core().Settings();
    const std::string strVerb = args.vcWords.empty() ? "" : args.vcWords[0];
    if (strVerb == "show") {
        invocation.CheckWords(1);
        Show(settings);
        return kOk;
    }
    if (strVerb != "set") {
        throw SUsageError("settings takes show or set NAME VALUE.");
    }
    invocation.CheckWords(3);
    bool bKnown = false;
    {
        SQuietBoxes quiet;  // the store's own box would repeat the sentence printed below
        bKnown = Set(settings, args.vcWords[1], args.vcWords[2]);
    }
    if (!bKnown) {
        throw SUsageError("'" + args.vcWords[1] + "' is no setting; see corvane-cli settings --help.");
    }
    if (!settings.LastError().empty()) {
        throw SFailure(Narrow(settings.LastError()));
    }
    return kOk;
}

}  // namespace

const SCommand kSettingsCommand = {"settings", "show or change the settings", &Help, {}, false,
                                   true, &Run};

}  // namespace Branwick::Cli
