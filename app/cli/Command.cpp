#include "app/cli/Command.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "core/HistoryItems.h"
#include "core/Text.h"
#include "platform/demo/demo.h"

namespace Branwick::Cli {

// A demo prefix that is removed at the end unless it was asked to be kept.
class CInvocation::CDemoFolder {
public:
    explicit CDemoFolder(const std::optional<std::string>& strKeep) : m_bKeep(strKeep.has_value()) {
        if (m_bKeep) {
            m_strPath = *strKeep;
        } else {
            std::string strTemplate =
                (std::filesystem::temp_directory_path() / "corvane-demo-XXXXXX").string();
            if (mkdtemp(strTemplate.data()) == nullptr) {
                throw SFailure("No temporary folder could be made for the demo prefix.");
            }
            m_strPath = strTemplate;
        }
        std::wstring strError;
        if (!Platform::MakeDemoPrefix(m_strPath, nullptr, strError)) {
            throw SFailure(Narrow(strError));
        }
        std::fprintf(stderr, "Demo prefix: %s\n", EscapeControls(m_strPath).c_str());
    }
    ~CDemoFolder() {
        if (!m_bKeep) {
            std::error_code ec;
            std::filesystem::remove_all(m_strPath, ec);
        }
    }
    CDemoFolder(const CDemoFolder&) = delete;
    CDemoFolder& operator=(const CDemoFolder&) = delete;
    const std::string& Path() const { return m_strPath; }

private:
    bool m_bKeep;
    std::string m_strPath;
};

CInvocation::CInvocation(const SCommand& command, const SArgs& args)
    : m_command(command), m_args(args) {}

// The core goes first: it works on the demo folder.
CInvocation::~CInvocation() { m_pCore.reset(); }

CCore& CInvocation::Core() {
    if (m_pCore) {
        return *m_pCore;
    }
    std::wstring strError;
    std::unique_ptr<Platform::CTarget> pTarget;
    if (m_args.bDemo) {
        m_pDemo = std::make_unique<CDemoFolder>(m_args.strKeep);
        pTarget = Platform::CTarget::OpenWinePrefix(m_pDemo->Path(), strError);
    } else if (m_args.strWindows) {
        pTarget = Platform::CTarget::OpenOfflineVolume(*m_args.strWindows,
                                                       Utf8ToWide(*m_args.strUser), strError);
    } else {
        pTarget = Platform::CTarget::OpenWinePrefix(m_args.strPrefix.value_or(""), strError);
    }
    if (pTarget == nullptr) {
        throw SFailure(Narrow(strError));
    }
    for (const char chDrive : m_args.strAllowedDrives) {
        if (!pTarget->Files().AllowDrive(static_cast<wchar_t>(chDrive))) {
            throw SUsageError(std::string(1, chDrive) +
                              ": is no drive of the target that a fix could be allowed on (the host root and "
                              "folders that hold the target never are).");
        }
    }
    m_pCore = std::make_unique<CCore>(std::move(pTarget), m_command.bTask,
                                      isatty(STDERR_FILENO) != 0 && !m_args.bJson);
    return *m_pCore;
}

void CInvocation::CheckOptions(bool bOptions) const {
    for (const auto& [name, value] : m_args.mapOptions) {
        const bool bAllowed =
            bOptions &&
            std::any_of(m_command.vcOptions.begin(), m_command.vcOptions.end(),
                        [&](const SOption& option) { return name == option.pszName; });
        if (!bAllowed) {
            throw SUsageError(name + " is not an option of " + m_args.strCommand + ".");
        }
    }
}

void CInvocation::CheckWords(std::size_t nWords, bool bOptions) const {
    CheckOptions(bOptions);
    if (m_args.vcWords.size() != nWords) {
        throw SUsageError("'" + m_args.strCommand + "' takes " +
                          (nWords == 0 ? std::string("no further words") :
                                         std::to_string(nWords) + " word(s)") +
                          " here; see corvane-cli " + m_args.strCommand + " --help.");
    }
}

std::string Narrow(const std::wstring& s) { return WideToUtf8(s); }

std::vector<std::string> SplitCommaList(const std::string& strList) {
    std::vector<std::string> vcItems;
    std::size_t nStart = 0;
    while (nStart <= strList.size()) {
        const std::size_t nEnd = std::min(strList.find(',', nStart), strList.size());
        vcItems.push_back(strList.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return vcItems;
}

namespace {

template <class TTable>
std::vector<SName> NamesOf(const TTable& table) {
    std::vector<SName> names;
    for (const auto& info : table) {
        names.push_back({info.pszCliName, static_cast<DWORD>(info.nBit)});
    }
    return names;
}

}  // namespace

const std::vector<SName> kCategoryNames = NamesOf(ScanTypes());
const std::vector<SName> kHistoryItemNames = NamesOf(kHistoryItems);

std::string NameList(const std::vector<SName>& names) {
    std::string text;
    for (const SName& n : names) {
        text += (text.empty() ? "" : ", ") + std::string(n.pszName);
    }
    return text;
}

DWORD ParseNames(const std::string& strList, const std::vector<SName>& names, const char* pszWhat) {
    DWORD dw = 0;
    if (strList == "all") {
        for (const SName& n : names) {
            dw |= n.dwBit;
        }
        return dw;
    }
    for (const std::string& strName : SplitCommaList(strList)) {
        const auto it = std::find_if(names.begin(), names.end(),
                                     [&](const SName& n) { return strName == n.pszName; });
        if (it == names.end()) {
            throw SUsageError("'" + strName + "' is no " + pszWhat + "; known are: " +
                              NameList(names) + ".");
        }
        dw |= it->dwBit;
    }
    return dw;
}

std::string BitNames(DWORD dwBits, const std::vector<SName>& names) {
    std::string text;
    for (const SName& n : names) {
        if ((dwBits & n.dwBit) != 0) {
            text += (text.empty() ? "" : ",") + std::string(n.pszName);
        }
    }
    return text.empty() ? "none" : text;
}

std::set<int> ParseIds(const std::string& strList) {
    std::set<int> ids;
    for (const std::string& strItem : SplitCommaList(strList)) {
        const std::size_t nDash = strItem.find('-');
        try {
            std::size_t nUsed = 0;
            const int nFirst = std::stoi(strItem.substr(0, nDash), &nUsed);
            const int nLast = nDash == std::string::npos ? nFirst : std::stoi(strItem.substr(nDash + 1));
            if (nFirst < 1 || nLast < nFirst || nLast - nFirst > 1000000) {
                throw std::invalid_argument(strItem);
            }
            for (int n = nFirst; n <= nLast; ++n) {
                ids.insert(n);
            }
        } catch (const std::logic_error&) {
            throw SUsageError("'" + strItem + "' is not a finding number or range like 3-7.");
        }
    }
    return ids;
}

void RequireWritable(CCore& core) {
    const CStatus status = core.Target().Registry().CheckWritable();
    if (!status.Ok()) {
        throw SFailure("Nothing was changed, because the target cannot be written now: " +
                       Narrow(status.m_strText));
    }
}

DWORD Categories(CInvocation& invocation) {
    const SArgs& args = invocation.Args();
    return args.Has("--categories")
               ? ParseNames(args.mapOptions.at("--categories"), kCategoryNames, "category")
               : invocation.Core().Settings().GetScanFlags() & kAllScanTypes;
}

void RunScan(CCore& core, DWORD dwCategories) {
    if (!core.Session().Scan(dwCategories)) {
        throw SFailure(Narrow(core.Session().LastError()));
    }
}

std::vector<std::string> FixTexts(const CRegError& record) {
    std::vector<std::string> texts;
    for (const auto& pFix : record.GetFixes()) {
        // A key fix made without a data text has nothing to say; "delete the key" follows.
        if (!pFix->GetDescription().empty()) {
            texts.push_back(Narrow(pFix->GetDescription()));
        }
    }
    if (record.m_bDeleteSelf) {
        texts.push_back(record.m_hRoot == 0 ? "delete the file" : "delete the key");
    }
    return texts;
}

}  // namespace Branwick::Cli
