// The target's Windows environment: the variables a Windows program started in the target sees,
// built from the target's registry only. The host's own environment never enters it.
//
// Threads: a const CEnvironment may be read from several threads; Set needs the only reference.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry/registry.h"

namespace Branwick::Platform {

class CEnvironment {
public:
    // GetEnvironmentVariableW: true and the value when a variable of that name (in any case) is set.
    bool Get(const std::wstring& strName, std::wstring& strValue) const;
    // The value, or an empty string when the variable is not set.
    std::wstring Get(const std::wstring& strName) const;

    // SetEnvironmentVariableW: sets or replaces (keeping the first spelling of the name); an empty
    // value removes the variable.
    void Set(const std::wstring& strName, const std::wstring& strValue);

    // ExpandEnvironmentStringsW: each %NAME% of a set variable (any case) becomes its value, once
    // (values are not expanded again); an unknown %NAME% stays as written, and its closing '%' may
    // open the next reference; a lone '%' stays.
    std::wstring Expand(const std::wstring& strText) const;

    // Every variable as "set" lists them: names in case-insensitive order.
    std::vector<std::pair<std::wstring, std::wstring>> Variables() const;

private:
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> m_mapVars;  // folded name -> (name, value)
};

// The user whose profile the environment describes.
struct CEnvironmentUser {
    std::wstring m_strSid;   // the profile's key below ProfileList, if known
    std::wstring m_strName;  // else the profile folder's name, as an offline volume names its user
};

// The environment of a 32-bit Windows program started in the target (on a 64-bit target it runs
// under WOW64: ProgramFiles is the x86 folder, PROCESSOR_ARCHITECTURE is x86), built in the order
// Wine and Windows build it, each later source overriding the earlier:
//   1. SystemDrive, and SystemRoot from HKLM\Software\Microsoft\Windows NT\CurrentVersion
//      (C:\windows when absent);
//   2. HKLM\System\CurrentControlSet\Control\Session Manager\Environment;
//   3. the user's profile from ProfileList (USERPROFILE, HOMEDRIVE, HOMEPATH, USERNAME, APPDATA,
//      LOCALAPPDATA), as Windows sets them at log-on;
//   4. HKCU\Environment, then HKCU\Volatile Environment (Wine keeps it in user.reg);
//   5. ALLUSERSPROFILE, ProgramData and PUBLIC from ProfileList; ProgramFiles, CommonProgramFiles
//      and their (x86) and W6432 forms from HKLM\Software\Microsoft\Windows\CurrentVersion;
//      COMPUTERNAME from the ComputerName key, when nothing set it before.
// REG_SZ and REG_EXPAND_SZ values only; REG_EXPAND_SZ is expanded against what is built so far;
// empty values are skipped; a later PATH is appended to the earlier one with ';'.
CEnvironment BuildEnvironment(const CRegistry& reg, const CEnvironmentUser& user);

}  // namespace Branwick::Platform
