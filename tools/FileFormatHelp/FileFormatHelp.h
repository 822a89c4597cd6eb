// The file format look-up: asks the format service what an extension is, on a worker thread,
// with up to three tries, and turns its JSON answer into records for the page or the terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "tools/http/HttpClient.h"

namespace Branwick {

// One file type that uses the extension.
struct CFormatInfo {
    std::wstring m_strFileType;
    std::wstring m_strDeveloper;    // ends in "\r\n\n"
    std::wstring m_strDescription;  // ends in "\r\n\n"
    std::string m_image;            // the picture's bytes (PNG), decoded in memory; may be empty
    // Name and link of each application that opens it; the link is empty when unknown.
    std::vector<std::pair<std::wstring, std::wstring>> m_vApplications;
};

// The records of a JSON answer, in its order: one per object of the root array. Anything that is
// not an array gives none; a value that is not a string reads as empty.
std::vector<CFormatInfo> ParseFormatAnswer(const std::string& strJson);

// Base64 as the service writes it: four characters at a time, up to the first "=" or the first
// character outside the standard alphabet; a last group of two or three characters gives one or
// two bytes.
std::string DecodeBase64(std::string_view text);

// The extension as the service is asked for it: blanks and a leading "." or "*." dropped, upper
// case. Empty when the result cannot be an extension (the service would refuse it).
std::wstring NormalizeExtension(const std::wstring& strInput);

// A service address "http://HOST[:PORT][/PREFIX]" split for the HTTP client. False for anything
// else (other schemes included).
struct SServiceAddress {
    std::wstring strHost;
    unsigned short nPort = 80;
    std::wstring strPathPrefix;  // without a trailing "/"
};
bool ParseServiceAddress(const std::wstring& strUrl, SServiceAddress& address);

class CFileFormatLookup {
public:
    using Callback = std::function<void(std::vector<CFormatInfo>)>;

    // Asks the service at strServiceUrl; after a failed try waits `retryPause` before the next.
    explicit CFileFormatLookup(std::wstring strServiceUrl,
                               std::chrono::milliseconds retryPause = std::chrono::milliseconds(5000),
                               SHttpLimits limits = {});
    // Cuts a pause or a request short and waits for a running look-up to end.
    ~CFileFormatLookup();
    CFileFormatLookup(const CFileFormatLookup&) = delete;
    CFileFormatLookup& operator=(const CFileFormatLookup&) = delete;

    // Starts LookUp on a worker thread and returns at once; onDone gets the records there when it
    // ends. False, starting nothing, while a look-up runs: the page shows one result at a time.
    bool Start(const std::wstring& strExtension, Callback onDone);
    bool IsRunning() const { return m_bRunning; }

    // The records the service gives for the extension; none when it does not know it, the
    // extension cannot be one, or three tries failed. Each failed try writes the exception's text
    // to "FileFormatHelp.log". On the calling thread; one look-up per object at a time.
    std::vector<CFormatInfo> LookUp(const std::wstring& strExtension);

private:
    std::string Fetch(const SServiceAddress& address, const std::wstring& strPath) const;
    bool Pause();  // false when the object is going away

    std::wstring m_strServiceUrl;
    std::chrono::milliseconds m_retryPause;
    SHttpLimits m_limits;
    CLogFile m_log;  // opened at the first failure, kept for the object's life

    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bAbort{false};  // the object is going away
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bClosing = false;  // under m_mutex
    std::thread m_worker;
};

}  // namespace Branwick
