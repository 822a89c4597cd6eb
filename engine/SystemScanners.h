// The scanners of the system's own registrations: COM/ActiveX classes and application ids,
// uninstall entries, font entries, shared DLL counts and startup items. Private to engine/: the
// drivers reach them through the hook table (Scanners.h).
//
// Every callback has the walkers' value-callback signature (Fendral.h), runs on the scan thread
// inside the engine's exception pattern under its own name, and posts one CErrorFoundMessage per
// finding through the operation it is given.
#pragma once

#include <string>

#include "engine/Fendral.h"

namespace Branwick {

// ---- COM/ActiveX (0x1) ----

// Walks HKEY_CLASSES_ROOT\CLSID and \AppID in each view and posts the category's own start and
// end messages (progress 0 and 100, "Starting...").
void ScanComRegistrations(const COperation& op);

// One class (CLSID\{id}, from ProcessSubkeys): servers whose file is gone and AppID references
// that lead nowhere. A class left without any valid server is deleted whole.
void ScanCOMClsid(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView);
// One application id (AppID\{id}): an "AppID" value naming a missing AppID key.
void ScanCOMAppID(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView);

// The text of the default value of root\path in the view; empty when the key cannot be opened
// ("Can not open key" in Scan.log) or has no default value.
std::wstring ReadDefaultValue(const COperation& op, HKEY hRoot, const std::wstring& strKeyPath,
                              REGSAM dwView);
// Whether root\path opens for reading in the view.
bool KeyExists(const COperation& op, HKEY hRoot, const std::wstring& strKeyPath, REGSAM dwView);
// Whether a server command line names a file that exists. The path may hold unquoted spaces and
// be followed by arguments, so it grows token by token until a file is found; a folder on the
// way ("C:\Program Files" of "C:\Program Files (x86)\...") is no server.
bool CheckServerPath(const COperation& op, const std::wstring& strText);

// ---- Value scanners ----

// 0x2: an entry whose DisplayName is empty, or whose UninstallString names a missing file.
void ScanUninstalls(const COperation& op, const std::wstring& strRoot,
                    const std::wstring& strSubkey, const std::wstring& strValueName,
                    const std::wstring& strValueData, REGSAM dwView);
// 0x4: a font whose file is not named or gone (a bare name lives in the Windows Fonts folder).
void ScanFontEntries(const COperation& op, const std::wstring& strRoot,
                     const std::wstring& strSubkey, const std::wstring& strValueName,
                     const std::wstring& strValueData, REGSAM dwView);
// 0x8: a reference count of a DLL (the value name, taken literally) that is gone.
void ScanSharedDlls(const COperation& op, const std::wstring& strRoot,
                    const std::wstring& strSubkey, const std::wstring& strValueName,
                    const std::wstring& strValueData, REGSAM dwView);
// 0x10: a Run entry whose program is gone.
void ScanStartups(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView);

}  // namespace Branwick
