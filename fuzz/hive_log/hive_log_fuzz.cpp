// The transaction log replay on arbitrary logs: it must never crash, read or write out of bounds,
// or hang, and whatever it recovers must be a clean hive. The harness mends the checksums and
// hashes the input spoils, so that the fuzzer reaches the entries and pages behind them.
#include <cstdint>
#include <cstring>

#include "platform/registry/hive_log.h"

namespace {

using namespace Branwick::Platform::Reg;

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void Put64(std::uint8_t* p, std::uint64_t v) {
    Put32(p, static_cast<std::uint32_t>(v));
    Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// Gives every well-sized entry of a new-format log the hashes it should have.
void SealEntries(CBytes* pLog) {
    for (std::size_t off = 512; off + 40 <= pLog->size();) {
        std::uint8_t* p = pLog->data() + off;
        const std::uint32_t size = Le32(p + 4);
        if (std::memcmp(p, "HvLE", 4) != 0 || size < 40 || size % 512 != 0 ||
            size > pLog->size() - off) {
            break;
        }
        Put64(p + 24, LogEntryHash(p + 40, size - 40));
        Put64(p + 32, LogEntryHash(p, 32));
        off += size;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 513) {
        return 0;
    }
    const bool mend = (data[0] & 1) != 0;
    CBytes log(data + 1, data + size);
    std::memcpy(log.data(), "regf", 4);
    if (mend) {
        SealEntries(&log);
        Put32(log.data() + 508, BaseBlockChecksum(log.data()));
    }
    // A primary one step behind the log, as big as the log says, within reason.
    const std::uint32_t bins = Le32(log.data() + 40) % (1u << 20);
    CBytes primary(4096 + bins, 0);
    std::memcpy(primary.data(), log.data(), 512);
    Put32(primary.data() + 28, 0);
    Put32(primary.data() + 8, Le32(primary.data() + 4) - 1);
    Put32(primary.data() + 508, BaseBlockChecksum(primary.data()));
    const std::size_t half = log.size() / 2;
    const CReplay one = ReplayHiveLogs(primary, {{L"LOG1", log}});
    const CReplay two = ReplayHiveLogs(
        primary, {{L"LOG1", CBytes(log.begin(), log.begin() + half)}, {L"LOG2", log}});
    for (const CReplay* r : {&one, &two}) {
        if (r->m_bRecovered &&
            (r->m_vHive.size() < 4096 || Le32(r->m_vHive.data() + 4) != Le32(r->m_vHive.data() + 8) ||
             BaseBlockChecksum(r->m_vHive.data()) != Le32(r->m_vHive.data() + 508))) {
            __builtin_trap();
        }
    }
    return 0;
}
