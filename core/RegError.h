// The problem record: one finding of a scan (a registry key, possibly with values in it to delete,
// or a file), the fixes that repair it, and the message that carries it from the engine to the
// program. The program copies records out of the message, marks them, and hands them back to the
// engine's fix run, which backs each one up and fixes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Fix.h"
#include "core/Messages.h"

namespace Branwick {

// The names of the predefined roots: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
// HKEY_USERS and HKEY_CURRENT_CONFIG; no other root has one.
// The name of a root; empty for any other handle.
std::wstring GetRootKeyName(HKEY hRoot);
// The handle of a root by its whole name, compared case-sensitively; 0 when none matches.
HKEY GetRootKeyHandle(std::wstring_view strName);

// What the user chose for a record (CRegError::m_nState).
enum FixState : std::int32_t {
    FIX_STATE_LEFT = 0,     // new, or left alone: not fixed
    FIX_STATE_TO_FIX = 1,   // to be fixed
    FIX_STATE_IGNORED = 2,  // moved to the ignore list
};

// A problem record is a fix container: fixing it runs the attached fixes and then, with
// m_bDeleteSelf, deletes the key (or the file) it names. Copies copy every fix.
class CRegError : public CFixContainer {
public:
    // m_nState starts at 0; no fixes are attached.
    CRegError(std::int32_t nScanType, HKEY hRoot, std::wstring strPath, std::wstring strDescription,
              REGSAM dwRegSam, bool bDeleteSelf);

    std::unique_ptr<IFix> Clone() const override;
    // 0 on success. Runs the attached fixes and stops with their failure; then, with
    // m_bDeleteSelf and a path, deletes the file (root 0; moves it to m_strBackupPath when that
    // is set) or the whole key. A failed deletion
    // gives 1. A key record whose key no longer exists (removed by an attached fix or by an
    // earlier fix of the same run) has reached its aim: 0.
    int Fix(const SFixContext& context) override;
    // What Fix() deletes: with m_bDeleteSelf and a path the whole key (a file saves nothing);
    // otherwise every attached fix's backup.
    void Backup(pugi::xml_node parent, const Platform::CRegistry& registry) const override;
    // For what Backup() saves.
    CStatus CheckRestorable(const Platform::CRegistry& registry) const override;

    // The root's name, a backslash and the path; the path alone when the root has no name (a
    // file); the root's name alone when the path is empty.
    std::wstring GetFullPath() const;
    // The full path under which the target's native view finds the key: for a 32-bit-view key
    // of a 64-bit target that the view redirects, "HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\..."
    // or "HKEY_CLASSES_ROOT\Wow6432Node\..."; GetFullPath() for everything else (files, shared
    // keys, keys that are gone). Only the text differs; the record keeps its own path.
    std::wstring GetDisplayPath(const Platform::CRegistry& registry) const;

    std::int32_t m_nState = FIX_STATE_LEFT;  // a FixState
    std::int32_t m_nScanType;    // the category bit
    std::wstring m_sPath;        // the key path below the root, or a file's full path (root 0)
    std::wstring m_sDescription;
    bool m_bDeleteSelf;
    HKEY m_hRoot;                // 0: the record names a file
    REGSAM m_dwRegSam;           // the view bits the key is opened with
    // A file record's place in the backup taken before the fix (a Windows path): the fix moves
    // the file there instead of deleting it. Empty: no backup holds it, the fix deletes it.
    std::wstring m_strBackupPath;

private:
    int DeleteSelf(const SFixContext& context);
    bool IsKeyGone(const Platform::CRegistry& registry) const;
};

// Type 2: one finding, posted by the engine; the scan manager copies the record out of it.
class CErrorFoundMessage : public CMessageImpl<CErrorFoundMessage> {
public:
    static constexpr std::int32_t kType = 2;
    CErrorFoundMessage(CRegError regError, std::int32_t nScanType);
    // "CErrorFoundMessage\nScanType: %d\nCRegError path: %s\n" with the record's full path.
    std::wstring ToString() const override;

    CRegError m_regError;
    std::int32_t m_nScanType;
};

}  // namespace Branwick
