// The engine inside libfendral.so: the state of the running operation, the registry walkers, the
// reference checks that decide whether a path named in the registry exists, and the exception
// pattern every engine routine runs in. The category scanners are built on these.
//
// Threads: the engine runs one operation at a time, on that operation's thread; everything here is
// called on that thread only, between the start of an entry point and its finish messages. The
// library-wide state (the engine log, the walkers' buffers) makes the walkers non-reentrant.
#pragma once

#include <cstdint>
#include <memory>
#include <source_location>
#include <string>

#include "core/Exceptions.h"
#include "core/Log.h"
#include "core/Messages.h"
#include "core/ScanThreadData.h"
#include "platform/environment/environment.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/target/target.h"

namespace Branwick {

// ---- The running operation ----

// One engine operation: the argument record of its entry point, and through it the target, the
// sink and the stop request. The entry point makes it and hands it to every walk, callback and
// check, as a hivex visitor gets its opaque pointer; nothing below the entry point finds it in a
// global. For its lifetime the record's message box (if any) is the library's; the previous one is
// put back at the end.
class COperation {
public:
    explicit COperation(CScanThreadData& record);
    ~COperation();
    COperation(const COperation&) = delete;
    COperation& operator=(const COperation&) = delete;

    CScanThreadData& Record() const { return m_record; }
    // The target and its services. Without a target the registry fails every call, the
    // environment is empty and Files() throws.
    const Platform::CTarget* Target() const { return m_record.m_pTarget; }
    const Platform::CRegistry& Registry() const;
    Platform::CFileSystem& Files() const;
    const Platform::CEnvironment& Environment() const;
    // Whether the target is 64-bit (its 32-bit programs run under WOW64, so both views are walked).
    bool IsWow64() const { return Registry().Is64Bit(); }

    // IsRunning(0) of the record: false once a stop has been requested.
    bool IsRunning() const { return m_record.IsRunning(0); }
    // Posts the message into the record's sink (ownership passes to the program).
    void Post(std::unique_ptr<CMessage> pMessage) const;
    // Posts a CLogMessage with the text.
    void PostLogLine(const std::wstring& strText) const;
    // Posts a CScanProgressMessage (0 to 100). This and the others below refill a message the
    // program has delivered when there is one: a walk posts two per registry key, a fix one per
    // record, and allocating each would cost more than the work itself.
    void PostScanProgress(int nProgress, std::wstring_view strText, std::int32_t nScanType) const;
    void PostFixProgress(int nProgress, std::wstring_view strText, std::int32_t nScanType,
                         int nFixed) const;
    // The messages this operation may refill, for the fixes it runs.
    CRecycler& Recycler() const { return m_recycler; }
    // The progress "Starting..." that opens (0) and closes (100) a category.
    void PostStartOrEnd(int nProgress, std::int32_t nScanType) const;

    // Reports an exception caught by an engine routine: "Cause: %s\nParameters: %s\n" with the
    // exception's text and the routine's parameter text, posted as a log line and shown in a
    // message box captioned "Corvane".
    void ReportException(const CBranwickException& e, const std::wstring& strParameters) const;

private:
    CScanThreadData& m_record;
    mutable CRecycler m_recycler;
    IMessageBox* m_pPreviousBox = nullptr;
    bool m_bBoxInstalled = false;
};

// The engine log "Scan.log", opened by the first scan of the library's lifetime.
CLogFile& ScanLog();

// ---- Exception pattern ----

// Runs body() inside the engine's three handlers (CBranwickException, any other standard exception,
// anything else) and reports what they catch; params() gives the routine's parameter text and is
// called only then. Returns false when something was caught: the caller goes on with its next item.
template <class TBody, class TParams>
bool RunGuarded(const COperation& op, const wchar_t* pszRoutine, TParams&& params, TBody&& body,
                std::source_location where = std::source_location::current()) {
    try {
        body();
        return true;
    } catch (const CBranwickException& e) {
        op.ReportException(e, params());
    } catch (const std::exception& e) {
        op.ReportException(CBranwickException(L"Fendral", pszRoutine,
                                              static_cast<int>(where.line()), Utf8ToWide(e.what())),
                           params());
    } catch (...) {
        op.ReportException(CBranwickException(L"Fendral", pszRoutine,
                                              static_cast<int>(where.line()), L"Unknown exception"),
                           params());
    }
    return false;
}

// ---- Walkers ----

// A category's scanner callback: root name ("HKEY_LOCAL_MACHINE"), key path below the root (no
// leading backslash; empty for the root), value name (empty for the default value), value text
// (ValueText), view bits (KEY_WOW64_32KEY or KEY_WOW64_64KEY). ProcessSubkeys passes each subkey's
// path with an empty value name and text.
using ValueCallback = void (*)(const COperation& op, const std::wstring& strRoot,
                               const std::wstring& strSubkey, const std::wstring& strValueName,
                               const std::wstring& strValueData, REGSAM dwView);

// The parameter text of a value callback's exception handlers:
// "sRoot: %s\nsSubkey: %s\nsValueName: %s\nsValueData: %s".
std::wstring ValueParameters(const std::wstring& strRoot, const std::wstring& strSubkey,
                             const std::wstring& strValueName, const std::wstring& strValueData);

// The empty-key mode of ProcessKey: a callback that does nothing with values; passing it makes
// ProcessKey run the empty-key test on every key it walks.
void EmptyKeyCallback(const COperation& op, const std::wstring& strRoot,
                      const std::wstring& strSubkey, const std::wstring& strValueName,
                      const std::wstring& strValueData, REGSAM dwView);

// The empty-key test (the empty-key scanner), run by ProcessKey in empty-key mode on every key it
// walked, with the key's numbers of subkeys and values.
using EmptyKeyTest = void (*)(const COperation& op, const std::wstring& strRoot,
                              const std::wstring& strSubkey, DWORD dwSubKeys, DWORD dwValues,
                              REGSAM dwView);

// Walks root\path: hands each value of the key to the callback and, unless nDeep is 0, walks every
// subkey the same way (subkeys on the exclusion table are not entered). Posts a CScanProgressMessage
// per subkey (nPercentsStart plus the share of the subkeys before it; the subkeys share
// nPercentsInterval) and, for a key without subkeys, one closing message. Polls IsRunning between
// values and subkeys. Returns 0 when the key was opened, else the open's error code ("Can not open
// key" in Scan.log). With no callback and nDeep 0 it only tests that the key opens.
LONG ProcessKey(const COperation& op, HKEY hRoot, const std::wstring& strPath, int nDeep,
                ValueCallback pfnCallback, int nPercentsStart, int nPercentsInterval,
                std::int32_t nScanType, REGSAM dwView);

// Hands each direct subkey of root\path to the callback, posting progress after each.
void ProcessSubkeys(const COperation& op, HKEY hRoot, const std::wstring& strPath,
                    ValueCallback pfnCallback, int nPercentsStart, int nPercentsInterval,
                    std::int32_t nScanType, REGSAM dwView);

// Whether the recursive walk of a category leaves root\path out (the exclusion table).
bool IsExcluded(HKEY hRoot, const std::wstring& strPath, std::int32_t nScanType);

// The text form of value data: strings up to their first NUL (the first of a REG_MULTI_SZ; a
// REG_EXPAND_SZ unexpanded), REG_DWORD and REG_DWORD_BIG_ENDIAN as signed decimal (read
// little-endian), REG_QWORD as unsigned decimal, every other type empty.
std::wstring ValueText(DWORD dwType, const Platform::CRegBytes& vData);

// ---- Reference checks ----

// Expands the target's environment variables (ExpandEnvironmentStrings). On a 64-bit target the text
// is first lower-cased and %ProgramFiles% / %CommonProgramFiles% become their 64-bit folders.
std::wstring ExpandPath(const COperation& op, const std::wstring& strText);

// Whether FindFirstFile finds the path (a folder counts, a wildcard makes any match count). On a
// 64-bit target a path below the Windows folder's system32 also counts when the file is in the real
// system32 or in syswow64. With bFileOnly only a file counts, never a folder.
bool FileExists(const COperation& op, const std::wstring& strPath, bool bFileOnly = false);

// Cuts a file path out of a registry text (environment expanded, arguments dropped) and tests that
// the file exists; with bSearch also below the Windows folder, its system32 and along PATH, and a
// text naming "iexplore" counts as found. With bFileOnly a folder does not count as found (the
// first words of "C:\Program Files (x86)\App\x.exe" name the folder C:\Program Files).
bool FindFile(const COperation& op, const std::wstring& strText, bool bSearch,
              bool bFileOnly = false);

// False only when the default value of root\path\command names an ".exe" or ".dll" that FindFile
// (with search) cannot find.
bool CheckCommandKey(const COperation& op, const std::wstring& strRootName,
                     const std::wstring& strKeyPath);

// A drive path ("C:\...") cut at its first '/' and trimmed; false, text unchanged, for anything else.
bool SplitDrivePath(std::wstring& strText);

// The first file path of an uninstall or file/path text ("C:\a.exe,D:\b.dll" gives "C:\a.exe"; a
// leading quote stays); false when there is no drive path with an extension.
bool ExtractFilePath(std::wstring& strText);

// Characters trimmed at both ends.
std::wstring Trim(const std::wstring& strText, const wchar_t* pszCharacters);

}  // namespace Branwick
