// The history items: what the history cleaner can erase, one bit each of the selection word that
// the settings keep and the engine's history entry point receives. One table gives each item's
// area, its caption on the history page and its name on the command line.
#pragma once

#include <array>

#include "platform/win32/win32.h"

namespace Branwick {

enum HistoryItem : DWORD {
    HC_IE_TEMPORARY_FILES = 0x0001,
    HC_IE_HISTORY = 0x0002,
    HC_IE_COOKIES = 0x0004,
    HC_IE_AUTOCOMPLETE_FORMS = 0x0008,
    HC_IE_INDEX_DAT = 0x0010,
    HC_FIREFOX_CACHE = 0x0020,
    HC_FIREFOX_HISTORY = 0x0040,
    HC_FIREFOX_COOKIES = 0x0080,
    HC_FIREFOX_DOWNLOADS = 0x0100,
    HC_FIREFOX_FORMS = 0x0200,
    HC_WINDOWS_TEMPORARY_FILES = 0x0400,
    HC_WINDOWS_LOG_FILES = 0x0800,
    HC_WINDOWS_RECYCLE_BIN = 0x1000,
    HC_WINDOWS_RECENT_DOCUMENTS = 0x2000,
};

// Every history item at once.
inline constexpr DWORD kAllHistoryItems = 0x3FFF;

// The browser or part of the system an item belongs to, as the history page groups them.
enum class EHistoryArea { InternetExplorer, Firefox, Windows };

struct SHistoryItemInfo {
    HistoryItem nBit;
    EHistoryArea eArea;
    const wchar_t* pszCaption;  // on the history page, leading blank included
    const char* pszCliName;     // corvane-cli's name
};

// The fourteen items, in the order corvane-cli lists them.
inline constexpr std::array<SHistoryItemInfo, 14> kHistoryItems = {{
    {HC_IE_TEMPORARY_FILES, EHistoryArea::InternetExplorer, L" Temporary Files", "ie-temp"},
    {HC_IE_HISTORY, EHistoryArea::InternetExplorer, L" History", "ie-history"},
    {HC_IE_COOKIES, EHistoryArea::InternetExplorer, L" Cookies", "ie-cookies"},
    {HC_IE_AUTOCOMPLETE_FORMS, EHistoryArea::InternetExplorer, L" Autocomplete forms", "ie-forms"},
    {HC_IE_INDEX_DAT, EHistoryArea::InternetExplorer, L" index.dat files", "ie-index"},
    {HC_FIREFOX_CACHE, EHistoryArea::Firefox, L" Temporary Files", "firefox-cache"},
    {HC_FIREFOX_HISTORY, EHistoryArea::Firefox, L" History", "firefox-history"},
    {HC_FIREFOX_DOWNLOADS, EHistoryArea::Firefox, L" Downloads History", "firefox-downloads"},
    {HC_FIREFOX_COOKIES, EHistoryArea::Firefox, L" Cookies", "firefox-cookies"},
    {HC_FIREFOX_FORMS, EHistoryArea::Firefox, L" Forms History", "firefox-forms"},
    {HC_WINDOWS_RECYCLE_BIN, EHistoryArea::Windows, L" Recycle Bin", "recycle-bin"},
    {HC_WINDOWS_RECENT_DOCUMENTS, EHistoryArea::Windows, L" Recent Documents", "recent-documents"},
    {HC_WINDOWS_LOG_FILES, EHistoryArea::Windows, L" Log Files", "windows-logs"},
    {HC_WINDOWS_TEMPORARY_FILES, EHistoryArea::Windows, L" Temporary Files", "windows-temp"},
}};

}  // namespace Branwick
