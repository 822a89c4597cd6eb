// Wine's registry text format ("WINE REGISTRY Version 2"): the reader and the writer side by side,
// so that a change to one is made next to the other. Private to platform/registry.
//
// The reader accepts what wineserver accepts and skips what it skips, with the same messages; the
// writer produces what wineserver writes, byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/key_tree.h"
#include "platform/registry/registry.h"

namespace Branwick::Platform::Reg {

inline constexpr std::string_view kWineMagic = "WINE REGISTRY Version 2";

// Lines of a text held in memory or read from a file descriptor in chunks.
class CLineReader {
public:
    explicit CLineReader(std::string_view strText);
    explicit CLineReader(int fd);
    CLineReader(const CLineReader&) = delete;
    CLineReader& operator=(const CLineReader&) = delete;

    // The next line without its "\n" and one trailing "\r", cut at a NUL byte (as fgets and
    // strlen see it). Valid until the next call. False at the end or on a read error.
    bool Next(std::string_view* pLine);
    int LineNumber() const { return m_nLine; }
    int ReadError() const { return m_nErrno; }

private:
    bool Fill();

    int m_fd = -1;
    std::vector<char> m_vBuffer;
    std::string_view m_strText;
    std::size_t m_nPos = 0;
    std::size_t m_nEnd = 0;
    bool m_bEof = false;
    int m_nErrno = 0;
    int m_nLine = 0;
};

// Text written to a file descriptor in large chunks, or kept in memory when fd is -1.
class CTextOut {
public:
    explicit CTextOut(int fd = -1);
    void Put(std::string_view s) {
        m_strBuffer.append(s);
        MaybeFlush();
    }
    void Put(char c) { m_strBuffer.push_back(c); }
    // For writers that append to Text() directly: writes a full chunk out.
    void MaybeFlush() {
        if (m_strBuffer.size() >= kChunk) {
            FlushChunk();
        }
    }
    // Writes what is buffered; false (and errno in Error()) when a write failed.
    bool Finish();
    int Error() const { return m_nErrno; }
    std::string& Text() { return m_strBuffer; }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    void FlushChunk();

    int m_fd;
    int m_nErrno = 0;
    std::string m_strBuffer;
};

struct CWineParseOptions {
    std::string m_strFileName;       // for messages
    bool m_bRequireMagic = true;     // else the magic line is optional (text for tests)
    std::string m_strExpectedArch;   // "win32" / "win64": another #arch refuses the file
    std::uint64_t m_qwLoadTime = 0;  // the time of keys that carry none
};

struct CWineParseResult {
    CStatus m_status;       // not Ok: the file is refused and the tree must be dropped
    std::string m_strArch;  // from #arch; empty when the file has none
    std::vector<std::wstring> m_vWarnings;  // the first ones of m_nWarnings
    std::size_t m_nWarnings = 0;
};

// Reads keys and values into pRoot (the branch's root key). Keys are created as Wine creates
// them; a key without a time takes the time of the first later key line's, or the load time.
CWineParseResult ParseWineText(CLineReader* pReader, CKeyNode* pRoot,
                               const CWineParseOptions& options);

struct CWineWriteOptions {
    // Written after ";; All keys relative to " (already escaped, e.g. "REGISTRY\\\\Machine");
    // empty: no header at all (the body alone, for tests).
    std::string m_strBranch;
    std::string m_strArch;  // "win32" / "win64" / empty: no #arch line
    bool m_bTimes = true;
};

// Writes pRoot and its subtree as wineserver does: depth-first, sorted, implicit intermediate keys
// left out. Subtrees of other stores (nodes marked kNodeMount below the root) are skipped.
void WriteWineText(const CKeyNode& root, const CWineWriteOptions& options, CTextOut* pOut);

// The current time as FILETIME.
std::uint64_t FileTimeNow();

}  // namespace Branwick::Platform::Reg
