// Message boxes of the engine and the application core as dialogs. A box asked for on the
// interface thread is shown there at once; one that only informs (MB_OK) does not wait to be
// closed, so no nested event loop runs inside the caller. One asked for on another thread is
// shown by the interface thread while the asking thread waits, so only that worker blocks.
//
// When the interface thread is about to wait for the workers itself (stopping a fix, ending the
// program), a box that a worker asks for then could never be answered. Inside an unattended
// scope those boxes, and any a worker is waiting on, get the answer that confirms nothing
// (CStderrMessageBox's) and go to stderr instead.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "core/MessageBox.h"

class QMessageBox;
class QObject;

namespace Branwick::Wnd {

class CQtMessageBox : public IMessageBox {
public:
    // pContext: an object of the interface thread (the application) that queued boxes run on.
    explicit CQtMessageBox(QObject* pContext);
    int Show(const std::wstring& strText, const std::wstring& strCaption, UINT uType) override;

    class CUnattended {
    public:
        explicit CUnattended(CQtMessageBox& box);
        ~CUnattended();
        CUnattended(const CUnattended&) = delete;
        CUnattended& operator=(const CUnattended&) = delete;

    private:
        CQtMessageBox& m_box;
    };

private:
    static QMessageBox* NewBox(const std::wstring& strText, const std::wstring& strCaption, UINT uType);
    static int ShowDialog(const std::wstring& strText, const std::wstring& strCaption, UINT uType);

    QObject* m_pContext;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_nUnattended = 0;
    unsigned m_nGeneration = 0;  // grows when an unattended scope begins: waiting boxes give up
};

// An unattended scope of box when it is a CQtMessageBox; none for any other box (which does not
// wait for the interface thread).
std::unique_ptr<CQtMessageBox::CUnattended> Unattended(IMessageBox& box);

}  // namespace Branwick::Wnd
