// corvane-cli targets: the Windows systems found on this machine.
#include <cstdio>
#include <iostream>

#include <json/json.h>

#include "app/cli/Commands.h"
#include "platform/discovery/discovery.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli targets [--json]

Lists the Windows systems found on this machine that corvane-cli can work on: Wine prefixes
($WINEPREFIX, ~/.wine, winetricks, Steam/Proton, Lutris, Bottles, Heroic, PlayOnLinux, CrossOver)
and Windows volumes mounted under /media, /run/media or /mnt, each with its kind, path,
architecture, size and whether a wineserver runs for it. A volume lists its users (--user).
  --json   the list as JSON
)";
}

std::string Size(std::uint64_t nBytes) {
    const char* kUnits[] = {"B", "kB", "MB", "GB", "TB"};
    double d = static_cast<double>(nBytes);
    std::size_t n = 0;
    while (d >= 1000 && n + 1 < std::size(kUnits)) {
        d /= 1000;
        ++n;
    }
    char sz[32];
    std::snprintf(sz, sizeof(sz), n == 0 ? "%.0f %s" : "%.1f %s", d, kUnits[n]);
    return sz;
}

int Run(CInvocation& invocation) {
    invocation.CheckWords(0);
    const std::vector<Platform::SFoundTarget> found =
        Platform::DiscoverTargets(Platform::SDiscoveryRoots::FromEnvironment());
    if (invocation.Args().bJson) {
        Json::Value list(Json::arrayValue);
        for (const Platform::SFoundTarget& t : found) {
            Json::Value entry(Json::objectValue);
            entry["kind"] = t.eKind == Platform::EFoundKind::WinePrefix ? "wine-prefix" : "windows-volume";
            entry["source"] = t.strSource;
            entry["name"] = t.strName;
            entry["path"] = t.strFolder;
            entry["architecture"] = t.b64Bit ? "64-bit" : "32-bit";
            entry["bytes"] = Json::UInt64(t.nBytes);
            if (t.eKind == Platform::EFoundKind::WinePrefix) {
                entry["wineserver"] = t.bServerRunning;
            } else {
                entry["users"] = Json::Value(Json::arrayValue);
                for (const std::string& strUser : t.vcUsers) {
                    entry["users"].append(strUser);
                }
            }
            list.append(entry);
        }
        std::cout << list << "\n";
        return kOk;
    }
    for (const Platform::SFoundTarget& t : found) {
        std::cout << Platform::FoundKindName(t.eKind) << " (" << t.strSource << "): " << t.strName << "\n"
                  << "  " << t.strFolder << "\n"
                  << "  " << (t.b64Bit ? "64-bit" : "32-bit") << ", " << Size(t.nBytes);
        if (t.eKind == Platform::EFoundKind::WinePrefix) {
            std::cout << (t.bServerRunning ? ", a wineserver runs for it" : "");
        } else {
            std::cout << ", users:";
            for (const std::string& strUser : t.vcUsers) {
                std::cout << " " << strUser;
            }
        }
        std::cout << "\n";
    }
    if (found.empty()) {
        std::cout << "No Wine prefix or Windows volume was found.\n";
    }
    return kOk;
}

}  // namespace

const SCommand kTargetsCommand = {"targets", "list the Windows systems found on this machine", &Help, {}, false,
                                  false, &Run};

}  // namespace Branwick::Cli
