// The registry scanners that judge references: file associations, application paths, help files,
// file/path references anywhere in HKEY_LOCAL_MACHINE, and empty keys. Private to engine/: the
// drivers reach them through the hook table (Scanners.h).
//
// Every callback has the walkers' value-callback signature (Fendral.h), runs on the scan thread
// inside the engine's exception pattern under its own name, and posts one CErrorFoundMessage per
// finding through the current record.
#pragma once

#include <string>

#include "engine/Fendral.h"

namespace Branwick {

// 0x400, every value of every key of HKEY_CLASSES_ROOT: an extension whose class or perceived type
// has no key, and a class whose edit, open or print command names a program that is gone.
void ScanFileAssociations(const COperation& op, const std::wstring& strRoot,
                          const std::wstring& strSubkey, const std::wstring& strValueName,
                          const std::wstring& strValueData, REGSAM dwView);

// 0x200, each subkey of App Paths (from ProcessSubkeys): an entry none of whose values names an
// existing file or folder is deleted whole.
void ScanAppPaths(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView);

// 0x100, the values of the Help and Html Help keys (name: the help file, text: its folder).
void ScanHelpFiles(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                   const std::wstring& strValueName, const std::wstring& strValueData,
                   REGSAM dwView);

// 0x20, every value of HKEY_LOCAL_MACHINE: a text of drive paths none of which exists, of which
// at least one names a file.
void ScanFilePath(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView);

// 0x80, run by ProcessKey in empty-key mode on each key it walked: a key without subkeys and values
// is reported under the highest ancestor that holds nothing but the chain down to it.
void ScanEmptyKey(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  DWORD dwSubKeys, DWORD dwValues, REGSAM dwView);

// Whether an empty key at root\strPath is reported: not a hive (a key right below the root), no
// skip word in its path, not the default user's, not Wine's own configuration.
bool IsReportableEmptyKey(const COperation& op, HKEY hRoot, const std::wstring& strPath);

// The highest key above the empty key root\strKeyPath (or the key itself) that a fix deleting the
// empty keys below it leaves empty: every key on the way up holds no values, and every other key
// below it is itself a tree of keys without values that the scan reports. The climb stops below
// a key with values or another content, and at the top level below the root.
std::wstring TopEmptyAncestor(const COperation& op, HKEY hRoot, const std::wstring& strKeyPath,
                              REGSAM dwView);

}  // namespace Branwick
