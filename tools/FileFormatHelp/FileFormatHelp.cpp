#include "tools/FileFormatHelp/FileFormatHelp.h"

#include <json/json.h>

#include <algorithm>
#include <cwctype>

#include "core/Exceptions.h"
#include "core/Text.h"
#include "tools/FormatService/FormatService.h"

namespace Branwick {

namespace {

constexpr int kTries = 3;
constexpr std::size_t kReadChunk = 512;
constexpr wchar_t kUserAgent[] = L"Cor Vanes";
constexpr wchar_t kLogName[] = L"FileFormatHelp.log";
constexpr wchar_t kParagraphEnd[] = L"\r\n\n";

std::wstring Text(const Json::Value& object, const char* pszKey) {
    const Json::Value& value = object[pszKey];
    return value.isString() ? Utf8ToWide(value.asString()) : std::wstring();
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
    std::string bytes;
    std::uint32_t nBits = 0;
    int nHave = 0;
    for (const char c : text) {
        const int nValue = Base64Value(c);
        if (nValue < 0) {
            break;  // "=" and anything outside the alphabet end the data
        }
        nBits = nBits << 6 | static_cast<std::uint32_t>(nValue);
        if (++nHave == 4) {
            bytes += static_cast<char>(nBits >> 16);
            bytes += static_cast<char>(nBits >> 8 & 0xFF);
            bytes += static_cast<char>(nBits & 0xFF);
            nBits = 0;
            nHave = 0;
        }
    }
    if (nHave >= 2) {
        nBits <<= 6 * (4 - nHave);
        bytes += static_cast<char>(nBits >> 16);
        if (nHave == 3) {
            bytes += static_cast<char>(nBits >> 8 & 0xFF);
        }
    }
    return bytes;
}

std::vector<CFormatInfo> ParseFormatAnswer(const std::string& strJson) {
    Json::Value root;
    std::string strErrors;
    const std::unique_ptr<Json::CharReader> pReader(Json::CharReaderBuilder().newCharReader());
    std::vector<CFormatInfo> vRecords;
    if (!pReader->parse(strJson.data(), strJson.data() + strJson.size(), &root, &strErrors) ||
        !root.isArray()) {
        return vRecords;
    }
    for (const Json::Value& item : root) {
        if (!item.isObject()) {
            continue;
        }
        CFormatInfo info;
        info.m_strFileType = Text(item, "FileType");
        info.m_strDeveloper = Text(item, "Developer") + kParagraphEnd;
        info.m_strDescription = Text(item, "Description") + kParagraphEnd;
        const Json::Value& image = item["Image"];
        if (image.isString()) {
            info.m_image = DecodeBase64(image.asString());
        }
        for (const Json::Value& application : item["Applications"]) {
            if (application.isObject()) {
                info.m_vApplications.emplace_back(Text(application, "Name"),
                                                  Text(application, "Url"));
            }
        }
        vRecords.push_back(std::move(info));
    }
    return vRecords;
}

std::wstring NormalizeExtension(const std::wstring& strInput) {
    const std::size_t nFirst = strInput.find_first_not_of(L" \t\r\n");
    if (nFirst == std::wstring::npos) {
        return {};
    }
    std::wstring strExtension =
        strInput.substr(nFirst, strInput.find_last_not_of(L" \t\r\n") - nFirst + 1);
    if (strExtension.starts_with(L"*.")) {
        strExtension.erase(0, 2);
    } else if (strExtension.starts_with(L'.')) {
        strExtension.erase(0, 1);
    }
    std::transform(strExtension.begin(), strExtension.end(), strExtension.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return Formats::IsValidExtension(WideToUtf8(strExtension)) ? strExtension : std::wstring();
}

bool ParseServiceAddress(const std::wstring& strUrl, SServiceAddress& address) {
    constexpr std::wstring_view kScheme = L"http://";
    if (!strUrl.starts_with(kScheme)) {
        return false;
    }
    const std::wstring strRest = strUrl.substr(kScheme.size());
    const std::size_t nSlash = strRest.find(L'/');
    std::wstring strAuthority = strRest.substr(0, nSlash);
    address.strPathPrefix = nSlash == std::wstring::npos ? L"" : strRest.substr(nSlash);
    while (address.strPathPrefix.ends_with(L'/')) {
        address.strPathPrefix.pop_back();
    }
    address.nPort = 80;
    // The port follows the last ":" outside an IPv6 address's brackets.
    const std::size_t nColon = strAuthority.rfind(L':');
    const std::size_t nBracket = strAuthority.rfind(L']');
    if (nColon != std::wstring::npos && (nBracket == std::wstring::npos || nColon > nBracket)) {
        const std::wstring strPort = strAuthority.substr(nColon + 1);
        if (strPort.empty() || strPort.size() > 5 ||
            !std::all_of(strPort.begin(), strPort.end(), iswdigit) || std::stoul(strPort) == 0 ||
            std::stoul(strPort) > 65535) {
            return false;
        }
        address.nPort = static_cast<unsigned short>(std::stoul(strPort));
        strAuthority.erase(nColon);
    }
    if (strAuthority.starts_with(L'[') && strAuthority.ends_with(L']')) {
        strAuthority = strAuthority.substr(1, strAuthority.size() - 2);
    }
    address.strHost = strAuthority;
    return !address.strHost.empty() && address.strHost.find_first_of(L"@/?# ") == std::wstring::npos;
}

CFileFormatLookup::CFileFormatLookup(std::wstring strServiceUrl,
                                     std::chrono::milliseconds retryPause, SHttpLimits limits)
    : m_strServiceUrl(std::move(strServiceUrl)), m_retryPause(retryPause), m_limits(limits) {
    m_limits.pAbort = &m_bAbort;
}

CFileFormatLookup::~CFileFormatLookup() {
    m_bAbort = true;
    {
        std::lock_guard lock(m_mutex);
        m_bClosing = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

bool CFileFormatLookup::Start(const std::wstring& strExtension, Callback onDone) {
    if (m_bRunning.exchange(true)) {
        return false;
    }
    if (m_worker.joinable()) {
        m_worker.join();  // the last look-up has ended: only its thread is left to collect
    }
    m_worker = std::thread([this, strExtension, onDone = std::move(onDone)] {
        std::vector<CFormatInfo> vRecords = LookUp(strExtension);
        m_bRunning = false;
        if (onDone) {
            onDone(std::move(vRecords));
        }
    });
    return true;
}

bool CFileFormatLookup::Pause() {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, m_retryPause, [this] { return m_bClosing; });
}

std::string CFileFormatLookup::Fetch(const SServiceAddress& address,
                                     const std::wstring& strPath) const {
    CGetRequest request(kUserAgent, address.strHost, L"", 0, address.nPort, m_limits);
    request.SendRequest(strPath);
    request.ReadAll(request, kReadChunk);
    return request.GetResponseBytes();
}

std::vector<CFormatInfo> CFileFormatLookup::LookUp(const std::wstring& strExtension) {
    const std::wstring strKey = NormalizeExtension(strExtension);
    SServiceAddress address;
    if (strKey.empty() || !ParseServiceAddress(m_strServiceUrl, address)) {
        return {};
    }
    const std::wstring strPath = address.strPathPrefix + L"/extensions/" + strKey;
    std::string strResponse;
    for (int nTry = 0; nTry < kTries; ++nTry) {
        try {
            strResponse = Fetch(address, strPath);
            break;
        } catch (const Corvane::Exception::CNetworkException& e) {
            if (m_bAbort) {
                break;  // not a failure of the service: nobody waits for the answer any more
            }
            if (!m_log.IsOpen()) {
                m_log.Open(kLogName);
            }
            m_log.Write(e.GetMessage());
            if (!Pause()) {
                break;
            }
        }
    }
    return ParseFormatAnswer(strResponse);
}

}  // namespace Branwick
