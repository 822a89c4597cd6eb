// What corvane-cli prints as text passes through EscapeControls, so that a registry key name or a
// line of a malformed file cannot send escape sequences to the user's terminal.
#pragma once

#include <streambuf>
#include <string>

namespace Branwick::Cli {

// A stream buffer in front of another that writes whole lines, escaped. Text that does not end a
// line is written at sync (flush) and at destruction.
class CEscapingBuffer : public std::streambuf {
public:
    explicit CEscapingBuffer(std::streambuf* pTarget) : m_pTarget(pTarget) {}
    ~CEscapingBuffer() override;
    CEscapingBuffer(const CEscapingBuffer&) = delete;
    CEscapingBuffer& operator=(const CEscapingBuffer&) = delete;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* p, std::streamsize n) override;
    int sync() override;

private:
    void WriteUpTo(std::size_t nEnd);

    std::streambuf* m_pTarget;
    std::string m_strPending;
};

// Puts a CEscapingBuffer in front of std::cout for the object's lifetime.
class CEscapedCout {
public:
    CEscapedCout();
    ~CEscapedCout();
    CEscapedCout(const CEscapedCout&) = delete;
    CEscapedCout& operator=(const CEscapedCout&) = delete;

private:
    std::streambuf* m_pOriginal;
    CEscapingBuffer m_buffer;
};

}  // namespace Branwick::Cli
