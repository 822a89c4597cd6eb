// corvane-cli format: what a file extension is, from the file format service.
#include <iostream>

#include <json/json.h>

#include "app/cli/Commands.h"
#include "core/Text.h"
#include "tools/FileFormatHelp/FileFormatHelp.h"
#include "tools/FileFormatHelp/FormatServiceEndpoint.h"

namespace Branwick::Cli {

namespace {

constexpr wchar_t kParagraphEnd[] = L"\r\n\n";
constexpr char kNotFound[] = "Information about this file format is not found.";

std::string Help() {
    return R"(Usage: corvane-cli format EXT [--service URL] [--json]

Says what kind of file the extension EXT names (for example doc), who develops the format, and
which installed applications open it, each with its home page where known. The answer comes from
the file format service: the one at URL (http://HOST[:PORT]), else the one the target's settings
name (settings set format-service URL, or the desktop program's File Format Help settings), else
one the program runs itself from this system's MIME database, icon themes and applications. A
service that does not answer is tried three times, five seconds apart.
  --json   the records as a JSON array ("Image" is the type's icon, a Base64 PNG, or null)
)";
}

// The text without the paragraph end that the records carry for the page.
std::string Paragraph(const std::wstring& strText) {
    return WideToUtf8(strText.ends_with(kParagraphEnd)
                          ? strText.substr(0, strText.size() - std::size(kParagraphEnd) + 1)
                          : strText);
}

void PrintJson(const std::vector<CFormatInfo>& vRecords) {
    Json::Value root(Json::arrayValue);
    for (const CFormatInfo& info : vRecords) {
        Json::Value item(Json::objectValue);
        item["FileType"] = WideToUtf8(info.m_strFileType);
        item["Developer"] = Paragraph(info.m_strDeveloper);
        item["Description"] = Paragraph(info.m_strDescription);
        item["Image"] = info.m_image.empty() ? Json::Value() : Json::Value(Formats::EncodeBase64(info.m_image));
        Json::Value applications(Json::arrayValue);
        for (const auto& [strName, strLink] : info.m_vApplications) {
            Json::Value application(Json::objectValue);
            application["Name"] = WideToUtf8(strName);
            application["Url"] = strLink.empty() ? Json::Value() : Json::Value(WideToUtf8(strLink));
            applications.append(application);
        }
        item["Applications"] = applications;
        root.append(item);
    }
    Json::StreamWriterBuilder writer;
    writer["emitUTF8"] = true;
    std::cout << Json::writeString(writer, root) << "\n";
}

void PrintText(const std::vector<CFormatInfo>& vRecords) {
    for (std::size_t i = 0; i < vRecords.size(); ++i) {
        const CFormatInfo& info = vRecords[i];
        std::cout << (i == 0 ? "" : "\n") << "File type: " << WideToUtf8(info.m_strFileType)
                  << "\nDeveloper: " << Paragraph(info.m_strDeveloper) << "\n"
                  << Paragraph(info.m_strDescription) << "\n";
        for (const auto& [strName, strLink] : info.m_vApplications) {
            std::cout << "  " << WideToUtf8(strName)
                      << (strLink.empty() ? "" : "  " + WideToUtf8(strLink)) << "\n";
        }
    }
}

// The address of --service, else the one the target's settings hold; empty for the service of our
// own. Without a target on the command line, a default target that cannot be opened has no
// settings: that is no error for a look-up that needs no target.
std::wstring ServiceAddress(CInvocation& invocation) {
    const SArgs& args = invocation.Args();
    SServiceAddress address;
    if (args.Has("--service")) {
        const std::wstring strService = Utf8ToWide(args.mapOptions.at("--service"));
        if (!strService.empty() && !ParseServiceAddress(strService, address)) {
            throw SUsageError("--service takes an address like http://HOST:PORT, not \"" +
                              args.mapOptions.at("--service") + "\".");
        }
        return strService;
    }
    std::wstring strService;
    try {
        strService = invocation.Core().Settings().GetFormatService();
    } catch (const SFailure&) {
        if (args.bDemo || args.strPrefix || args.strWindows) {
            throw;
        }
        return L"";
    }
    // The settings file may have been edited by hand.
    if (!strService.empty() && !ParseServiceAddress(strService, address)) {
        throw SFailure("The settings name the file format service \"" + WideToUtf8(strService) +
                       "\", which is not an address like http://HOST:PORT.");
    }
    return strService;
}

int Run(CInvocation& invocation) {
    invocation.CheckWords(1);
    const SArgs& args = invocation.Args();
    const std::wstring strExtension = Utf8ToWide(args.vcWords[0]);
    if (NormalizeExtension(strExtension).empty()) {
        throw SUsageError("\"" + args.vcWords[0] + "\" is not a file extension.");
    }
    CFormatServiceEndpoint endpoint(ServiceAddress(invocation));
    std::vector<CFormatInfo> vRecords;
    try {
        vRecords = CFileFormatLookup(endpoint.Url()).LookUp(strExtension);
    } catch (const std::runtime_error& e) {
        throw SFailure(std::string("The file format service could not be started: ") + e.what() + ".");
    }
    if (vRecords.empty()) {
        throw SFailure(kNotFound);
    }
    args.bJson ? PrintJson(vRecords) : PrintText(vRecords);
    return kOk;
}

}  // namespace

const SCommand kFormatCommand = {"format", "what a file extension is and what opens it", &Help,
                                 {{"--service", true}}, false, false, &Run};

}  // namespace Branwick::Cli
