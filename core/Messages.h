// The scan categories and every message that travels over the bus. A message is a heap object
// whose ownership moves with it: the producer hands it to a sink (MessageSink.h), the runner
// deletes it after dispatch, and an observer that wants to keep it takes a Clone().
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/win32/win32.h"

namespace Branwick {

// The scan categories, one bit each; a set of categories is the OR of their bits.
enum ScanType : std::int32_t {
    COM = 0x1,
    UNINSTALL = 0x2,
    FONTS = 0x4,
    SHARED_DLLS = 0x8,
    STARTUP = 0x10,
    FILE_PATH = 0x20,
    SHOTCATS = 0x40,
    EMPTY_KEYS = 0x80,
    HELP_FILES = 0x100,
    APP_PATH = 0x200,
    FILE_ASSOCIATIONS = 0x400,
    JUNK_FILES = 0x800,
};

// Every category at once.
inline constexpr DWORD kAllScanTypes = 0xFFF;

// A category with its key (the ignore list's file), its display name (the windows) and its name
// on the command line.
struct SScanTypeInfo {
    ScanType nBit;
    const wchar_t* pszKey;
    const wchar_t* pszDisplayName;
    const char* pszCliName;
};

// The twelve categories in ascending bit order.
const std::array<SScanTypeInfo, 12>& ScanTypes();

// Key to bit: the whole key, case-sensitively ("JUNK_FILES" is 0x800, "junk_files" is 0).
// Display name to bit: case-insensitively. Both give 0 for anything unknown, the empty text too.
std::int32_t ScanTypeFromKey(std::wstring_view key);
std::int32_t ScanTypeFromDisplayName(std::wstring_view name);
// Bit to key or display name; the empty text for anything but one of the twelve bits.
std::wstring ScanTypeKey(std::int32_t nScanType);
std::wstring ScanTypeDisplayName(std::int32_t nScanType);

// The base of every message. m_nType is the class's type number (kType of each class below).
class CMessage {
public:
    virtual ~CMessage() = default;
    // A new heap copy of the same class with every field copied; the caller owns it.
    virtual std::unique_ptr<CMessage> Clone() const = 0;
    // A description for diagnostics; empty when there is nothing to report.
    virtual std::wstring ToString() const = 0;

    std::int32_t m_nType;

protected:
    explicit CMessage(std::int32_t nType) : m_nType(nType) {}
    // A copy is not queued where its original is.
    CMessage(const CMessage& other) : m_nType(other.m_nType) {}
    CMessage& operator=(const CMessage& other) {
        m_nType = other.m_nType;
        return *this;
    }

private:
    friend class CMessageQueue;
    CMessage* m_pNextQueued = nullptr;  // the queue's link, while the message is queued
};

// Gives a message class its Clone(): class CFoo : public CMessageImpl<CFoo> { ... }.
template <class TDerived, class TBase = CMessage>
class CMessageImpl : public TBase {
public:
    std::unique_ptr<CMessage> Clone() const override {
        return std::make_unique<TDerived>(static_cast<const TDerived&>(*this));
    }

protected:
    using TBase::TBase;
};

// Type 0: a diagnostic line for "Logger.log". The only type still delivered once the runner
// has been told to stop.
class CLogMessage : public CMessageImpl<CLogMessage> {
public:
    static constexpr std::int32_t kType = 0;
    // Stores "\r\n" + the local time ("%d-%m-%Y %H:%M:%S") + "\n" + strText.
    explicit CLogMessage(std::wstring_view strText);
    std::wstring ToString() const override { return {}; }
    // As the constructor stores it, for a message filled anew.
    void SetText(std::wstring_view strText);

    std::wstring m_strText;
};

// The common part of scan and fix progress; not posted by itself.
class CProgressMessage : public CMessage {
public:
    // The text only at 0 and 100 percent, empty in between.
    std::wstring ToString() const override;

    std::int32_t m_nProgress;  // percent, 0..100
    std::wstring m_strScanDescription;
    std::int32_t m_nScanType;

protected:
    CProgressMessage(std::int32_t nProgress, std::wstring_view strDescription,
                     std::int32_t nScanType, std::int32_t nType);
};

// Type 1: progress of one category of a scan.
class CScanProgressMessage : public CMessageImpl<CScanProgressMessage, CProgressMessage> {
public:
    static constexpr std::int32_t kType = 1;
    CScanProgressMessage(std::int32_t nProgress, std::wstring_view strDescription,
                         std::int32_t nScanType);
    std::wstring ToString() const override;
};

// Type 2 (CErrorFoundMessage) carries a problem record and lives beside it, in RegError.h.

// Type 3: the number of findings kept so far in a category.
class CErrorAddedMessage : public CMessageImpl<CErrorAddedMessage> {
public:
    static constexpr std::int32_t kType = 3;
    CErrorAddedMessage(std::int32_t nErrorCount, std::int32_t nScanType);
    std::wstring ToString() const override;

    std::int32_t m_nErrorCount;
    std::int32_t m_nScanType;
};

// Messages without fields: only their type and their fixed text differ.
template <std::int32_t nType, class TDerived>
class CPlainMessage : public CMessageImpl<TDerived> {
public:
    static constexpr std::int32_t kType = nType;
    CPlainMessage() : CMessageImpl<TDerived>(nType) {}
};

// Type 4: the scan has ended.
class CFinishScanMessage : public CPlainMessage<4, CFinishScanMessage> {
public:
    std::wstring ToString() const override { return L"CFinishScanMessage\n"; }
};

// Type 5: progress of one category of a fix run.
class CFixProgressMessage : public CMessageImpl<CFixProgressMessage, CProgressMessage> {
public:
    static constexpr std::int32_t kType = 5;
    CFixProgressMessage(std::int32_t nProgress, std::wstring_view strDescription,
                        std::int32_t nScanType, std::int32_t nErrorCount);
    std::wstring ToString() const override;

    std::int32_t m_nErrorCount;
};

// Found and fixed problems of one category.
struct SFixCount {
    std::int32_t nFound = 0;
    std::int32_t nFixed = 0;
};

// Type 6: the fix run has ended, with its counts per category.
class CFinishFixMessage : public CMessageImpl<CFinishFixMessage> {
public:
    static constexpr std::int32_t kType = 6;
    // Every one of the twelve categories starts at 0 found, 0 fixed.
    CFinishFixMessage();
    std::wstring ToString() const override;

    std::map<std::int32_t, SFixCount> m_mapStatistics;  // by ScanType bit
};

// Type 7: a worker's last act; m_dwId is its own thread id.
class CFinishThreadMessage : public CMessageImpl<CFinishThreadMessage> {
public:
    static constexpr std::int32_t kType = 7;
    explicit CFinishThreadMessage(DWORD dwId);
    std::wstring ToString() const override;

    DWORD m_dwId;
};

// Type 8: progress of creating (total 0) or restoring a backup.
class CRestoreCreateBkupProgress : public CMessageImpl<CRestoreCreateBkupProgress> {
public:
    static constexpr std::int32_t kType = 8;
    CRestoreCreateBkupProgress(std::int32_t nCurrent, std::int32_t nTotal);
    // The text only when the current count is 0 or equals the total.
    std::wstring ToString() const override;

    std::int32_t m_nCurrent;
    std::int32_t m_nTotal;
};

// Type 9: a backup has been created.
class CCreateBkupFinishMsg : public CMessageImpl<CCreateBkupFinishMsg> {
public:
    static constexpr std::int32_t kType = 9;
    CCreateBkupFinishMsg(std::wstring_view strName, std::int64_t nTime);
    std::wstring ToString() const override;

    std::wstring m_strName;  // the backup's name
    std::int64_t m_nTime;    // its creation time, seconds since 1970
};

// Type 10: a backup has been restored.
class CRestoreBkupFinishMsg : public CPlainMessage<10, CRestoreBkupFinishMsg> {
public:
    std::wstring ToString() const override { return L"CRestoreBkupFinishMsg\n"; }
};

// Type 11: reserved for the windows; never posted, so it stays abstract.
class CGUIMessage : public CMessage {
public:
    static constexpr std::int32_t kType = 11;

    std::wstring m_strText;
    std::int32_t m_nValue = 0;

protected:
    CGUIMessage() : CMessage(kType) {}
};

// Types 12 to 15: commands between the windows.
class CStartScanMessage : public CPlainMessage<12, CStartScanMessage> {
public:
    std::wstring ToString() const override { return L"CStartScanMessage\n"; }
};
class CStartFixMessage : public CPlainMessage<13, CStartFixMessage> {
public:
    std::wstring ToString() const override { return L"CStartFixMessage\n"; }
};
class CStartFixAutoMessage : public CPlainMessage<14, CStartFixAutoMessage> {
public:
    std::wstring ToString() const override { return L"CStartFixAutoMessage\n"; }
};
// Asks the owner-drawn lists and trees to repaint.
class CInvalidateMessage : public CPlainMessage<15, CInvalidateMessage> {
public:
    std::wstring ToString() const override { return L"CInvalidateMessage\n"; }
};

// Type 17: progress of history cleaning.
class CGenProgressMessage : public CMessageImpl<CGenProgressMessage> {
public:
    static constexpr std::int32_t kType = 17;
    CGenProgressMessage(std::int32_t nCurProgress, std::int32_t nMaxProgress);
    std::wstring ToString() const override;

    std::int32_t m_nCurProgress;
    std::int32_t m_nMaxProgress;
};

// Type 18: history cleaning has ended.
class CFinishProgressMessage : public CPlainMessage<18, CFinishProgressMessage> {
public:
    std::wstring ToString() const override { return {}; }
};

// Type 19: one history entity and what cleaning it gave.
class CHistoryCleanerMessage : public CMessageImpl<CHistoryCleanerMessage> {
public:
    static constexpr std::int32_t kType = 19;
    CHistoryCleanerMessage(std::int32_t hcType, std::wstring_view strHistoryEntity,
                           std::int32_t hcRes, std::wstring_view strReason = {});
    std::wstring ToString() const override;

    std::int32_t m_hcType;  // the kind of history item
    std::wstring m_sHistoryEntity;
    std::int32_t m_hcRes;  // the result of cleaning it
    std::wstring m_strReason;  // why it was not erased; empty when it was
};

}  // namespace Branwick
