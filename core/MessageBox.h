// Message boxes without windows. The engine and the application core never block on a window:
// they call ShowMessageBox, which hands the box to the process's current IMessageBox: the desktop
// program installs a dialog, the CLI keeps the default (a line on stderr), tests install a
// recorder. Each module (the program, libfendral.so) has its own current implementation.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick {

// Shows a message and says which button was chosen. Called from any thread; must not throw.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // uType holds the buttons (MB_OK, MB_OKCANCEL, MB_YESNO) and an icon (MB_ICON...).
    // Returns IDOK, IDCANCEL, IDYES or IDNO.
    virtual int Show(const std::wstring& strText, const std::wstring& strCaption, UINT uType) = 0;
};

// Writes "<caption>: <text>" as one UTF-8 line to stderr and answers without asking: IDOK for an
// OK box, IDCANCEL for OK/Cancel and IDNO for Yes/No, so nothing is done that was not confirmed.
// The line has its control characters escaped (EscapeControls); of a report of a caught exception
// ("Cause: ..."), whose whole text is in the log, it shows only the cause.
class CStderrMessageBox : public IMessageBox {
public:
    int Show(const std::wstring& strText, const std::wstring& strCaption, UINT uType) override;
};

// Keeps every box it was asked to show and answers with a reply chosen in advance
// (by default the same answers as CStderrMessageBox). Thread-safe.
class CRecordingMessageBox : public IMessageBox {
public:
    struct SShown {
        std::wstring strText;
        std::wstring strCaption;
        UINT uType;
    };

    int Show(const std::wstring& strText, const std::wstring& strCaption, UINT uType) override;

    // The answer to every later box; 0 restores the default answers.
    void SetAnswer(int nAnswer);
    std::vector<SShown> GetShown() const;

private:
    mutable std::mutex m_mutex;
    std::vector<SShown> m_vShown;
    int m_nAnswer = 0;
};

// Makes pMessageBox the process's current implementation (null: back to stderr) and returns the
// previous one. The caller keeps ownership and keeps the object alive while it is installed.
IMessageBox* SetMessageBox(IMessageBox* pMessageBox);

// Shows a box through the current implementation; caption "Corvane" and an OK button by default.
int ShowMessageBox(const std::wstring& strText, const std::wstring& strCaption = L"Corvane",
                   UINT uType = MB_OK);

}  // namespace Branwick
