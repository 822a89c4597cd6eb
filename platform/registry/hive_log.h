// A dirty hive brought up to date from its transaction logs (NAME.LOG1, NAME.LOG2), as Windows
// does when it loads the hive. Private to platform/registry.
//
// Windows writes changes to a log first and to the hive later; a hive whose two sequence numbers
// differ (or whose base block checksum is wrong) holds older data than its logs. Two log formats
// exist: the old one (up to Windows 8: a base block, "DIRT" and a bitmap of dirty 512-byte pages,
// then the pages) and the new one (Windows 8.1 and later: a base block, then "HvLE" entries, each
// a set of pages with a sequence number and two Marvin32 hashes). The replay works on bytes in
// memory; nothing here touches a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Branwick::Platform::Reg {

using CBytes = std::vector<std::uint8_t>;

// The 64-bit Marvin32 of data with the seed the log entries use.
std::uint64_t LogEntryHash(const std::uint8_t* pData, std::size_t nSize);

// The XOR checksum of a base block's first 508 bytes, as stored at offset 508.
std::uint32_t BaseBlockChecksum(const std::uint8_t* pBlock);

struct CHiveLog {
    std::wstring m_strName;  // for messages: "NTUSER.DAT.LOG1"
    CBytes m_vData;
};

struct CReplay {
    bool m_bRecovered = false;
    CBytes m_vHive;  // the recovered hive, clean (equal sequence numbers, good checksum)
    // The highest sequence number any log or the primary's base block holds: a hive written back
    // must carry a larger one, so that Windows never prefers a stale log over it.
    std::uint32_t m_dwHighestSequence = 0;
    std::uint32_t m_dwLastApplied = 0;  // sequence number of the last entry applied (new format)
    std::size_t m_nEntries = 0;         // entries (new format) or pages (old format) applied
    bool m_bBaseBlockFromLog = false;
    std::wstring m_strApplied;  // what was applied, e.g. "3 log entries from NTUSER.DAT.LOG1, ..."
    std::wstring m_strWhyNot;   // when not recovered: why, per log
};

// Replays the logs over the primary hive's bytes. Stops at the first gap in the sequence numbers,
// bad hash or malformed entry; applies nothing unless at least one entry or page applies and the
// base block to use is sound. Never throws on bad input.
CReplay ReplayHiveLogs(const CBytes& vPrimary, const std::vector<CHiveLog>& vLogs);

}  // namespace Branwick::Platform::Reg
