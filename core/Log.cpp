#include "core/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "core/MessageBox.h"
#include "core/Text.h"
#include "platform/module/module.h"

namespace Branwick {

CLogFile::~CLogFile() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool CLogFile::Open(const std::wstring& strFileName) {
    std::lock_guard lock(m_mutex);
    const std::string folder = Platform::GetLogsFolder();
    if (folder.empty()) {
        return true;
    }
    // O_APPEND: each line lands at the end in one write, even with other writers of the file.
    const int fd = open((folder + WideToUtf8(strFileName)).c_str(),
                        O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = fd;
    }
    m_bOpen = fd >= 0;
    return true;
}

bool CLogFile::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_bOpen;
}

bool CLogFile::WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool CLogFile::Write(const std::wstring& strText, bool bWithHeader) {
    if (strText.empty()) {
        return false;
    }
    std::wstring strLine;
    try {
        AppendLine(strText, bWithHeader, &strLine);
    } catch (...) {
        strLine.clear();  // the write below fails as a failed write does
    }
    return WriteLines(strLine);
}

void CLogFile::AppendLine(const std::wstring& strText, bool bWithHeader, std::wstring* pLines) {
    if (bWithHeader) {
        *pLines += LogTimeStamp();
        *pLines += L"\tThreadId: ";
        *pLines += std::to_wstring(static_cast<int>(Platform::GetCurrentThreadId()));
        *pLines += L'\t';
    }
    *pLines += strText;
    *pLines += L'\n';
}

bool CLogFile::WriteLines(const std::wstring& strLines) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_bOpen) {
            return false;
        }
        if (!strLines.empty() && WriteText(strLines)) {
            return true;
        }
        m_bOpen = false;
    }
    // Outside the lock: a message box that logs must not find this file locked.
    ShowMessageBox(L"Unknown Exception while writing LogFile", L"Corvane", MB_OK);
    return false;
}

bool CLogFile::WriteText(const std::wstring& strLines) {
    try {
        if (m_bByteOrderMark) {
            m_bByteOrderMark = false;
            // pwrite ignores the offset under O_APPEND, so the mark goes in with O_APPEND off.
            const int nFlags = fcntl(m_fd, F_GETFL);
            if (nFlags < 0 || fcntl(m_fd, F_SETFL, nFlags & ~O_APPEND) != 0) {
                return false;
            }
            const bool bMarked = pwrite(m_fd, "\xFF\xFE", 2, 0) == 2;
            if (fcntl(m_fd, F_SETFL, nFlags) != 0 || !bMarked) {
                return false;
            }
        }
        return WriteAll(WideToUtf16LE(strLines));
    } catch (...) {
        return false;
    }
}

CLogBatch::~CLogBatch() {
    try {
        Flush();
    } catch (...) {
        // Nothing may leave a destructor; the lines are lost, as after a failed write.
    }
}

void CLogBatch::Write(const std::wstring& strText) {
    if (strText.empty()) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_strLines.empty()) {
        m_firstHeld = now;
    }
    CLogFile::AppendLine(strText, true, &m_strLines);
    if (m_strLines.size() >= kBatchChars || now - m_firstHeld >= std::chrono::seconds(1)) {
        Flush();
    }
}

void CLogBatch::Flush() {
    if (!m_strLines.empty()) {
        m_log.WriteLines(m_strLines);
        m_strLines.clear();
    }
}

bool CLogger::Open(const std::wstring& /*strFolder*/) {
    try {
        return m_logFile.Open(L"Logger.log");
    } catch (const std::exception& e) {
        ShowMessageBox(Utf8ToWide(e.what()), L"Corvane", MB_OK);
    } catch (...) {
        ShowMessageBox(L"UnknownError in CLogger::Open", L"Corvane", MB_OK);
    }
    ShowMessageBox(L"Log is unavailable", L"Corvane", MB_OK);
    return false;
}

void CLogger::Processmessage(CMessage* pMessage) {
    try {
        if (pMessage->m_nType != CLogMessage::kType) {
            return;
        }
        // Separator and text in one write: nothing of another writer comes between them, and a
        // fix that logs every record makes one system call per message instead of two.
        const std::wstring& strText = static_cast<CLogMessage*>(pMessage)->m_strText;
        std::wstring strLines;
        CLogFile::AppendLine(L"\n--------------- New Log message -------------------\n", true,
                             &strLines);
        if (!strText.empty()) {
            CLogFile::AppendLine(strText, true, &strLines);
        }
        m_logFile.WriteLines(strLines);
    } catch (const std::exception& e) {
        ShowMessageBox(Utf8ToWide(e.what()), L"Corvane", MB_OK);
    } catch (...) {
        ShowMessageBox(L"UnknownError in CLogger::Processmessage", L"Corvane", MB_OK);
    }
}

}  // namespace Branwick
