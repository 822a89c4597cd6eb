// Log files: UTF-16LE text with one byte-order mark, in the Logs folder of the module that writes
// (Platform::GetLogsFolder). Components that log for themselves own a CLogFile; everything else
// posts CLogMessage objects, which the program's CLogger writes to "Logger.log".
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "core/MessageManager.h"

namespace Branwick {

// One log file. Thread-safe: several threads may write through one object, and several objects
// (in this or another process) may append to one file; each line goes to the end in one piece.
class CLogFile {
public:
    CLogFile() = default;
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Opens strFileName in the Logs folder, creating folder and file as needed; an existing file
    // is appended to, never truncated. A failed open leaves the object silently unwritable (Write
    // returns false) until a later Open succeeds. Always returns true.
    bool Open(const std::wstring& strFileName);
    bool IsOpen() const;

    // Appends strText and a line feed; with bWithHeader the line starts with the local time
    // ("%d-%m-%Y %H:%M:%S"), a tab, "ThreadId: <id>" and a tab. The first write of the object first
    // writes the byte-order mark FF FE over the file's first two bytes. Returns false, writing
    // nothing, when the file is not open or strText is empty. A failed write shows the message
    // box "Unknown Exception while writing LogFile", stops all further writes and returns false.
    bool Write(const std::wstring& strText, bool bWithHeader = true);

    // Appends to *pLines the line Write would append for strText, header included.
    static void AppendLine(const std::wstring& strText, bool bWithHeader, std::wstring* pLines);
    // Appends lines made by AppendLine in one piece, as Write does one line.
    bool WriteLines(const std::wstring& strLines);

private:
    bool WriteText(const std::wstring& strLines);  // holding m_mutex
    bool WriteAll(const std::string& bytes);

    mutable std::mutex m_mutex;
    int m_fd = -1;
    bool m_bOpen = false;
    bool m_bByteOrderMark = true;  // still to be written
};

// The lines of a loop over many records, appended together: a fix of many records spent more on
// one write per line than on anything else it does per record. Held lines reach the file, in their
// order and each with the time it was written, when they fill a batch, with the first line written
// a second or more after the first one held, on Flush and when the batch ends. While it holds
// lines, whoever owns it writes to the same file only through it, so that the file keeps the order
// of events.
class CLogBatch {
public:
    explicit CLogBatch(CLogFile& log) : m_log(log) {}
    ~CLogBatch();
    CLogBatch(const CLogBatch&) = delete;
    CLogBatch& operator=(const CLogBatch&) = delete;

    // Holds strText as one line with header.
    void Write(const std::wstring& strText);
    void Flush();

private:
    static constexpr std::size_t kBatchChars = 32768;

    CLogFile& m_log;
    std::wstring m_strLines;
    std::chrono::steady_clock::time_point m_firstHeld;
};

// Writes the CLogMessage objects of the bus into "Logger.log". Subscribe it to type 0 only.
class CLogger : public IObserver {
public:
    // Opens "Logger.log" in the Logs folder (strFolder is not used). Returns true, unless an
    // exception made it show why and "Log is unavailable" (caption "Corvane"): then false.
    bool Open(const std::wstring& strFolder);

    // Writes the separator "\n--------------- New Log message -------------------\n" and then
    // the message's text, each with its header. Never throws.
    void Processmessage(CMessage* pMessage) override;

private:
    CLogFile m_logFile;
};

}  // namespace Branwick
