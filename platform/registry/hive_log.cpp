#include "platform/registry/hive_log.h"

#include <algorithm>
#include <cstring>

namespace Branwick::Platform::Reg {

namespace {

constexpr std::size_t kBaseBlock = 4096;
constexpr std::size_t kSector = 512;
constexpr std::size_t kEntryHeader = 40;
constexpr std::uint32_t kTypePrimary = 0;
constexpr std::uint32_t kTypeNewLog = 6;
constexpr std::uint64_t kMarvinSeed = 0x82EF4D887A4E55C5ull;

// Offsets in a base block.
constexpr std::size_t kSeq1 = 4;
constexpr std::size_t kSeq2 = 8;
constexpr std::size_t kTimestamp = 12;
constexpr std::size_t kFileType = 28;
constexpr std::size_t kDataSize = 40;
constexpr std::size_t kChecksum = 508;
constexpr std::size_t kFlags = 144;

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Le64(const std::uint8_t* p) {
    return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t Rotl(std::uint32_t v, int n) {
    return (v << n) | (v >> (32 - n));
}

void MarvinMix(std::uint32_t& lo, std::uint32_t& hi) {
    hi ^= lo;
    lo = Rotl(lo, 20);
    lo += hi;
    hi = Rotl(hi, 9);
    hi ^= lo;
    lo = Rotl(lo, 27);
    lo += hi;
    hi = Rotl(hi, 19);
}

// A base block (or the copy a log starts with) that passes the checks Windows makes.
bool SoundBaseBlock(const std::uint8_t* p, std::size_t nSize) {
    return nSize >= kSector && std::memcmp(p, "regf", 4) == 0 && Le32(p + 20) == 1 &&
           BaseBlockChecksum(p) == Le32(p + kChecksum);
}

void Seal(std::uint8_t* pBlock, std::uint32_t dwSequence) {
    Put32(pBlock + kSeq1, dwSequence);
    Put32(pBlock + kSeq2, dwSequence);
    Put32(pBlock + kFileType, kTypePrimary);
    Put32(pBlock + kChecksum, BaseBlockChecksum(pBlock));
}

struct CEntry {
    std::size_t m_nOffset = 0;  // in the log
    std::uint32_t m_dwSequence = 0;
    std::uint32_t m_dwFlags = 0;
    std::uint32_t m_dwDataSize = 0;
    std::uint32_t m_dwPages = 0;
};

// The entries of a new-format log from its start up to the first malformed one, each with good
// hashes and sequence numbers that follow each other. *psWhy says why the list ended early.
std::vector<CEntry> ParseEntries(const CHiveLog& log, std::wstring* psWhy) {
    const CBytes& d = log.m_vData;
    std::vector<CEntry> out;
    std::size_t off = kSector;
    while (off + kEntryHeader <= d.size() && std::memcmp(d.data() + off, "HvLE", 4) == 0) {
        const std::uint8_t* p = d.data() + off;
        CEntry e{off, Le32(p + 12), Le32(p + 8), Le32(p + 16), Le32(p + 20)};
        const std::uint32_t size = Le32(p + 4);
        const std::wstring at = L"entry " + std::to_wstring(out.size() + 1) + L": ";
        if (size < kEntryHeader || size % kSector != 0 || size > d.size() - off) {
            *psWhy = at + L"its size is wrong";
            break;
        }
        if (e.m_dwDataSize == 0 || e.m_dwDataSize % kBaseBlock != 0) {
            *psWhy = at + L"its hive size is wrong";
            break;
        }
        if (LogEntryHash(p + kEntryHeader, size - kEntryHeader) != Le64(p + 24) ||
            LogEntryHash(p, 32) != Le64(p + 32)) {
            *psWhy = at + L"its hash is wrong";
            break;
        }
        if (!out.empty() && e.m_dwSequence != out.back().m_dwSequence + 1) {
            *psWhy = at + L"its sequence number does not follow the previous one";
            break;
        }
        std::uint64_t need = kEntryHeader + 8ull * e.m_dwPages;
        bool refsOk = need <= size;
        for (std::uint32_t i = 0; refsOk && i < e.m_dwPages; ++i) {
            const std::uint32_t pageOff = Le32(p + kEntryHeader + 8 * i);
            const std::uint32_t pageSize = Le32(p + kEntryHeader + 8 * i + 4);
            need += pageSize;
            refsOk = need <= size &&
                     static_cast<std::uint64_t>(pageOff) + pageSize <= e.m_dwDataSize;
        }
        if (!refsOk) {
            *psWhy = at + L"its pages do not fit";
            break;
        }
        out.push_back(e);
        off += size;
    }
    return out;
}

// Writes one new-format entry's pages into vHive, growing it to the entry's hive size.
void ApplyEntry(const CHiveLog& log, const CEntry& e, CBytes* pHive) {
    const std::uint8_t* p = log.m_vData.data() + e.m_nOffset;
    const std::size_t want = kBaseBlock + e.m_dwDataSize;
    if (pHive->size() < want) {
        pHive->resize(want, 0);
    }
    const std::uint8_t* page = p + kEntryHeader + 8 * static_cast<std::size_t>(e.m_dwPages);
    for (std::uint32_t i = 0; i < e.m_dwPages; ++i) {
        const std::uint32_t pageOff = Le32(p + kEntryHeader + 8 * i);
        const std::uint32_t pageSize = Le32(p + kEntryHeader + 8 * i + 4);
        std::memcpy(pHive->data() + kBaseBlock + pageOff, page, pageSize);
        page += pageSize;
    }
    Put32(pHive->data() + kDataSize, e.m_dwDataSize);
    const std::uint32_t flags = Le32(pHive->data() + kFlags);
    Put32(pHive->data() + kFlags, (flags & ~1u) | (e.m_dwFlags & 1u));
}

struct CParsedLog {
    const CHiveLog* m_pLog = nullptr;
    std::vector<CEntry> m_vEntries;
};

std::wstring Range(std::size_t nCount, std::uint32_t dwFirst, const std::wstring& strLog) {
    return std::to_wstring(nCount) + (nCount == 1 ? L" log entry" : L" log entries") +
           L" (sequence " + std::to_wstring(dwFirst) +
           (nCount > 1 ? L" to " + std::to_wstring(dwFirst + nCount - 1) : L"") + L") from " +
           strLog;
}

void ReplayNew(const CBytes& vPrimary, std::vector<CParsedLog> logs, CReplay* pOut) {
    const bool primaryOk = SoundBaseBlock(vPrimary.data(), vPrimary.size());
    CBytes hive = vPrimary;
    std::uint32_t first = 0;
    if (primaryOk) {
        // Entries the primary already holds are history.
        const std::uint32_t secondary = Le32(vPrimary.data() + kSeq2);
        for (CParsedLog& log : logs) {
            std::erase_if(log.m_vEntries,
                          [secondary](const CEntry& e) { return e.m_dwSequence < secondary; });
        }
        std::erase_if(logs, [](const CParsedLog& l) { return l.m_vEntries.empty(); });
        std::sort(logs.begin(), logs.end(), [](const CParsedLog& a, const CParsedLog& b) {
            return a.m_vEntries.front().m_dwSequence < b.m_vEntries.front().m_dwSequence;
        });
    } else {
        // Only the log with the newest entries, and its base block.
        std::erase_if(logs, [](const CParsedLog& l) { return l.m_vEntries.empty(); });
        std::sort(logs.begin(), logs.end(), [](const CParsedLog& a, const CParsedLog& b) {
            return a.m_vEntries.back().m_dwSequence > b.m_vEntries.back().m_dwSequence;
        });
        if (logs.size() > 1) {
            logs.resize(1);
        }
        if (!logs.empty()) {
            std::memcpy(hive.data(), logs.front().m_pLog->m_vData.data(), kSector);
            std::fill(hive.begin() + kSector, hive.begin() + kBaseBlock, 0);
            pOut->m_bBaseBlockFromLog = true;
        }
    }
    if (logs.empty()) {
        pOut->m_strWhyNot = L"no log holds entries newer than the hive";
        return;
    }
    std::uint32_t last = 0;
    for (const CParsedLog& log : logs) {
        std::size_t n = 0;
        std::uint32_t start = 0;
        for (const CEntry& e : log.m_vEntries) {
            if (pOut->m_nEntries > 0 && e.m_dwSequence <= last) {
                continue;  // already applied from the other log
            }
            if (pOut->m_nEntries > 0 && e.m_dwSequence != last + 1) {
                break;
            }
            ApplyEntry(*log.m_pLog, e, &hive);
            if (n++ == 0) {
                start = e.m_dwSequence;
            }
            first = pOut->m_nEntries++ == 0 ? e.m_dwSequence : first;
            last = e.m_dwSequence;
        }
        if (n > 0) {
            pOut->m_strApplied +=
                (pOut->m_strApplied.empty() ? L"" : L", ") + Range(n, start, log.m_pLog->m_strName);
        }
    }
    Seal(hive.data(), last);
    pOut->m_dwLastApplied = last;
    pOut->m_vHive = std::move(hive);
    pOut->m_bRecovered = true;
}

// An old-format log applies when it was written for this state of the hive (same timestamp in
// the base blocks, or in the first hive bin when the primary's base block is damaged).
bool OldLogFits(const CBytes& vPrimary, bool bPrimaryOk, const CBytes& vLog) {
    const std::uint64_t stamp = Le64(vLog.data() + kTimestamp);
    if (bPrimaryOk) {
        return stamp == Le64(vPrimary.data() + kTimestamp);
    }
    return vPrimary.size() >= kBaseBlock + 32 &&
           (std::memcmp(vPrimary.data() + kBaseBlock, "hbin", 4) != 0 ||
            stamp == Le64(vPrimary.data() + kBaseBlock + 20) ||
            stamp == Le64(vPrimary.data() + kTimestamp));
}

bool ReplayOld(const CBytes& vPrimary, const CHiveLog& log, CReplay* pOut, std::wstring* psWhy) {
    const CBytes& d = log.m_vData;
    const bool primaryOk = SoundBaseBlock(vPrimary.data(), vPrimary.size());
    if (Le32(d.data() + kSeq1) != Le32(d.data() + kSeq2)) {
        *psWhy = L"it was not written completely";
        return false;
    }
    if (!OldLogFits(vPrimary, primaryOk, d)) {
        *psWhy = L"it belongs to another state of the hive";
        return false;
    }
    const std::uint32_t dataSize = Le32(d.data() + kDataSize);
    const std::size_t bits = dataSize / kSector;
    const std::size_t bitmapBytes = (bits + 7) / 8;
    if (dataSize == 0 || dataSize % kBaseBlock != 0 || d.size() < kSector + 4 + bitmapBytes ||
        std::memcmp(d.data() + kSector, "DIRT", 4) != 0) {
        *psWhy = L"its list of dirty pages is damaged";
        return false;
    }
    const std::uint8_t* bitmap = d.data() + kSector + 4;
    std::size_t src = (kSector + 4 + bitmapBytes + kSector - 1) / kSector * kSector;
    CBytes hive = vPrimary;
    if (hive.size() < kBaseBlock + dataSize) {
        hive.resize(kBaseBlock + dataSize, 0);
    }
    if (!primaryOk) {
        std::memcpy(hive.data(), d.data(), kSector);
        std::fill(hive.begin() + kSector, hive.begin() + kBaseBlock, 0);
        pOut->m_bBaseBlockFromLog = true;
    }
    std::size_t pages = 0;
    for (std::size_t bit = 0; bit < bits; ++bit) {
        if ((bitmap[bit / 8] & (1u << (bit % 8))) == 0) {
            continue;
        }
        if (src + kSector > d.size()) {
            *psWhy = L"it ends before its last dirty page";
            return false;
        }
        const std::uint8_t* page = d.data() + src;
        // A dirty page that starts a hive bin must be the bin that belongs there.
        if (bit % 8 == 0 && std::memcmp(page, "hbin", 4) == 0 &&
            (Le32(page + 4) != bit * kSector || Le32(page + 8) < kBaseBlock)) {
            *psWhy = L"it holds a damaged hive bin";
            return false;
        }
        std::memcpy(hive.data() + kBaseBlock + bit * kSector, page, kSector);
        src += kSector;
        ++pages;
    }
    if (pages == 0) {
        *psWhy = L"it holds no dirty pages";
        return false;
    }
    Put32(hive.data() + kDataSize, dataSize);
    Seal(hive.data(), Le32(d.data() + kSeq1));
    pOut->m_nEntries = pages;
    pOut->m_dwLastApplied = Le32(d.data() + kSeq1);
    pOut->m_strApplied = std::to_wstring(pages) + L" dirty pages from " + log.m_strName;
    pOut->m_vHive = std::move(hive);
    pOut->m_bRecovered = true;
    return true;
}

}  // namespace

std::uint64_t LogEntryHash(const std::uint8_t* pData, std::size_t nSize) {
    auto lo = static_cast<std::uint32_t>(kMarvinSeed);
    auto hi = static_cast<std::uint32_t>(kMarvinSeed >> 32);
    for (; nSize >= 4; pData += 4, nSize -= 4) {
        lo += Le32(pData);
        MarvinMix(lo, hi);
    }
    std::uint32_t last = 0x80;
    switch (nSize) {
        case 3:
            last = 0x80000000u | (pData[2] << 16) | (pData[1] << 8) | pData[0];
            break;
        case 2:
            last = 0x800000u | (pData[1] << 8) | pData[0];
            break;
        case 1:
            last = 0x8000u | pData[0];
            break;
        default:
            break;
    }
    lo += last;
    MarvinMix(lo, hi);
    MarvinMix(lo, hi);
    return (static_cast<std::uint64_t>(hi) << 32) | lo;
}

std::uint32_t BaseBlockChecksum(const std::uint8_t* pBlock) {
    std::uint32_t sum = 0;
    for (std::size_t off = 0; off < kChecksum; off += 4) {
        sum ^= Le32(pBlock + off);
    }
    return sum == 0xFFFFFFFFu ? 0xFFFFFFFEu : (sum == 0 ? 1 : sum);
}

CReplay ReplayHiveLogs(const CBytes& vPrimary, const std::vector<CHiveLog>& vLogs) {
    CReplay out;
    if (vPrimary.size() < kBaseBlock) {
        out.m_strWhyNot = L"the hive is shorter than its base block";
        return out;
    }
    const bool primaryOk = SoundBaseBlock(vPrimary.data(), vPrimary.size());
    if (primaryOk) {
        out.m_dwHighestSequence =
            std::max(Le32(vPrimary.data() + kSeq1), Le32(vPrimary.data() + kSeq2));
    }
    // The hive may only grow by what the logs carry: anything more is a damaged size field.
    std::size_t room = vPrimary.size();
    for (const CHiveLog& log : vLogs) {
        room += log.m_vData.size();
    }
    std::vector<CParsedLog> newLogs;
    std::vector<const CHiveLog*> oldLogs;
    std::wstring why;
    for (const CHiveLog& log : vLogs) {
        const CBytes& d = log.m_vData;
        std::wstring problem;
        if (d.empty()) {
            problem = L"it is empty";
        } else if (!SoundBaseBlock(d.data(), d.size())) {
            problem = L"its base block is damaged";
        } else if (kBaseBlock + static_cast<std::size_t>(Le32(d.data() + kDataSize)) > room) {
            problem = L"its hive size is wrong";
        } else {
            out.m_dwHighestSequence = std::max(
                {out.m_dwHighestSequence, Le32(d.data() + kSeq1), Le32(d.data() + kSeq2)});
            const std::uint32_t type = Le32(d.data() + kFileType);
            if (type == kTypeNewLog) {
                CParsedLog parsed{&log, ParseEntries(log, &problem)};
                for (const CEntry& e : parsed.m_vEntries) {
                    out.m_dwHighestSequence = std::max(out.m_dwHighestSequence, e.m_dwSequence);
                }
                std::erase_if(parsed.m_vEntries, [&room](const CEntry& e) {
                    return kBaseBlock + static_cast<std::size_t>(e.m_dwDataSize) > room;
                });
                if (!parsed.m_vEntries.empty() &&
                    parsed.m_vEntries.front().m_dwSequence == Le32(d.data() + kSeq1)) {
                    newLogs.push_back(std::move(parsed));
                    problem.clear();
                } else if (problem.empty()) {
                    problem = L"it holds no usable entries";
                }
            } else if (type == 1 || type == 2) {
                oldLogs.push_back(&log);
            } else {
                problem = L"it is no transaction log";
            }
        }
        if (!problem.empty()) {
            why += (why.empty() ? L"" : L"; ") + log.m_strName + L": " + problem;
        }
    }
    if (!newLogs.empty()) {
        ReplayNew(vPrimary, std::move(newLogs), &out);
    }
    for (std::size_t i = 0; !out.m_bRecovered && i < oldLogs.size(); ++i) {
        std::wstring problem;
        if (!ReplayOld(vPrimary, *oldLogs[i], &out, &problem)) {
            why += (why.empty() ? L"" : L"; ") + oldLogs[i]->m_strName + L": " + problem;
        }
    }
    if (!out.m_bRecovered) {
        out.m_strWhyNot = why.empty()
                              ? out.m_strWhyNot
                              : why + (out.m_strWhyNot.empty() ? L"" : L"; " + out.m_strWhyNot);
        if (out.m_strWhyNot.empty()) {
            out.m_strWhyNot = L"no transaction log was found";
        }
    }
    return out;
}

}  // namespace Branwick::Platform::Reg
