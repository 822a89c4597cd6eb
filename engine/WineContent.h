// What Wine writes into every prefix by itself (data/wine/own-content.txt, built into the library):
// entries that Wine puts back at its next start, which a scan of a Wine prefix does not report.
// Private to engine/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Fendral.h"

namespace Branwick {

// One row of the table.
struct SWineEntry {
    std::int32_t nCategory = 0;        // the ScanType bit
    HKEY hRoot = 0;                    // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
    std::wstring strKey;               // without "Wow6432Node\"; without the "\*" of a subtree
    bool bSubtree = false;             // the key and every key below it
    std::wstring strValue;             // empty for a row about a key
    std::vector<std::wstring> vcData;  // alternatives, unexpanded; empty for a row about a key
    std::wstring strReason;
};

// Parses table text; false with "line N: ..." in strError at the first row it cannot use.
bool ParseWineContent(std::string_view text, std::vector<SWineEntry>& out, std::wstring& strError);

// The table built into the library, parsed at its first use.
const std::vector<SWineEntry>& WineContent();

// Whether the running operation's target is a Wine prefix and root\path (a value of it, when
// strValueName or strData is given) is one of Wine's own entries of the category. Paths below
// HKEY_USERS\<the prefix's user> count as HKEY_CURRENT_USER; either registry view matches.
bool IsWineOwnContent(const COperation& op, std::int32_t nCategory, HKEY hRoot,
                      const std::wstring& strPath, const std::wstring& strValueName = {},
                      const std::wstring& strData = {});

}  // namespace Branwick
