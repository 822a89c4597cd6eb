// corvane-cli processes: the running processes, as the process manager's page lists them.
#include <json/json.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "app/cli/Commands.h"
#include "tools/ProcessManager/ProcessManager.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli processes [--json]

Lists the running processes: id, name, CPU share over one second, memory (working set, KB),
description, signer, path, and the reputation status (0 not listed, 1 unwanted, 2 malicious).
A Wine process shows its Windows executable and the prefix it runs in. Signatures are checked
against the file, not against a store of trusted roots.
  --json   the list as JSON
)";
}

const char* StatusName(ProcessStatus eStatus) {
    switch (eStatus) {
        case ProcessStatus::Unwanted: return "unwanted";
        case ProcessStatus::Malicious: return "malicious";
        default: return "";
    }
}

void PrintJson(const std::map<DWORD, CProcessInfo>& map) {
    Json::Value root(Json::arrayValue);
    for (const auto& [dwPid, info] : map) {
        Json::Value process(Json::objectValue);
        process["pid"] = dwPid;
        process["name"] = Narrow(info.m_strName);
        process["cpu_usage"] = info.m_dCpuUsage;
        process["memory_kb"] = Json::UInt64(info.m_nMemory);
        process["description"] = Narrow(info.m_strDescription);
        process["signer"] = Narrow(info.m_strSigner);
        process["path"] = Narrow(info.m_strPath);
        process["prefix"] = Narrow(info.m_strPrefix);
        process["status"] = static_cast<int>(info.m_eStatus);
        root.append(process);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    std::cout << Json::writeString(builder, root) << "\n";
}

void PrintText(const std::map<DWORD, CProcessInfo>& map) {
    std::printf("%7s  %-24s %9s %12s  %s\n", "PID", "Name", "CPU Usage", "Memory Usage", "Signer");
    for (const auto& [dwPid, info] : map) {
        std::printf("%7u  %-24s %9.2f %12llu  %s\n", dwPid, Narrow(info.m_strName).c_str(), info.m_dCpuUsage,
                    static_cast<unsigned long long>(info.m_nMemory), Narrow(info.m_strSigner).c_str());
        if (info.m_eStatus != ProcessStatus::NotListed) {
            std::printf("         listed as %s\n", StatusName(info.m_eStatus));
        }
        if (!info.m_strDescription.empty()) {
            std::printf("         %s\n", Narrow(info.m_strDescription).c_str());
        }
        if (!info.m_strPath.empty()) {
            std::printf("         %s\n", Narrow(info.m_strPath).c_str());
        }
        if (!info.m_strPrefix.empty()) {
            std::printf("         in the Wine prefix %s\n", Narrow(info.m_strPrefix).c_str());
        }
    }
    std::printf("Total: %zu process(es).\n", map.size());
}

int Run(CInvocation& invocation) {
    invocation.CheckWords(0);
    CProcessCollector collector(DefaultProcessesDatabase());
    if (!collector.DatabaseError().empty()) {
        std::cerr << Narrow(collector.DatabaseError()) << "\n";
    }
    std::map<DWORD, CProcessInfo> map;
    // The CPU share is measured between two samples.
    if (!collector.Sample(map)) {
        throw SFailure("The processor times of this machine cannot be read.");
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    if (!collector.Sample(map)) {
        throw SFailure("The processor times of this machine cannot be read.");
    }
    if (invocation.Args().bJson) {
        PrintJson(map);
    } else {
        PrintText(map);
    }
    return kOk;
}

}  // namespace

const SCommand kProcessesCommand = {"processes", "list the running processes", &Help, {}, false, false, &Run};

}  // namespace Branwick::Cli
