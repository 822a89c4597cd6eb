#include "app/cli/EscapedOutput.h"

#include <iostream>

#include "core/Text.h"

namespace Branwick::Cli {

CEscapingBuffer::~CEscapingBuffer() { sync(); }

void CEscapingBuffer::WriteUpTo(std::size_t nEnd) {
    const std::string text = EscapeControls(std::string_view(m_strPending).substr(0, nEnd));
    m_pTarget->sputn(text.data(), static_cast<std::streamsize>(text.size()));
    m_strPending.erase(0, nEnd);
}

CEscapingBuffer::int_type CEscapingBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
}

std::streamsize CEscapingBuffer::xsputn(const char* p, std::streamsize n) {
    m_strPending.append(p, static_cast<std::size_t>(n));
    const std::size_t nLineEnd = m_strPending.rfind('\n');
    if (nLineEnd != std::string::npos) {
        WriteUpTo(nLineEnd + 1);
    }
    return n;
}

int CEscapingBuffer::sync() {
    // A lead byte at the very end may start a C1 control whose second byte is still to come.
    const bool bOpenLead = !m_strPending.empty() && static_cast<unsigned char>(m_strPending.back()) == 0xc2;
    WriteUpTo(m_strPending.size() - (bOpenLead ? 1 : 0));
    return m_pTarget->pubsync();
}

CEscapedCout::CEscapedCout() : m_pOriginal(std::cout.rdbuf()), m_buffer(m_pOriginal) {
    std::cout.rdbuf(&m_buffer);
}

CEscapedCout::~CEscapedCout() {
    std::cout.flush();
    std::cout.rdbuf(m_pOriginal);
}

}  // namespace Branwick::Cli
