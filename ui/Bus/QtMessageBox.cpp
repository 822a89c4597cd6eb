#include "ui/Bus/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <memory>

namespace Branwick::Wnd {

CQtMessageBox::CQtMessageBox(QObject* pContext) : m_pContext(pContext) {}

QMessageBox* CQtMessageBox::NewBox(const std::wstring& strText, const std::wstring& strCaption, UINT uType) {
    auto* pBox = new QMessageBox(QApplication::activeWindow());
    pBox->setWindowTitle(QString::fromStdWString(strCaption));
    pBox->setText(QString::fromStdWString(strText));
    switch (uType & 0xF0) {
    case MB_ICONERROR: pBox->setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: pBox->setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: pBox->setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: pBox->setIcon(QMessageBox::Information); break;
    default: break;
    }
    return pBox;
}

int CQtMessageBox::ShowDialog(const std::wstring& strText, const std::wstring& strCaption, UINT uType) {
    const std::unique_ptr<QMessageBox> pBox(NewBox(strText, strCaption, uType));
    QMessageBox& box = *pBox;
    switch (uType & MB_TYPEMASK) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return IDOK;
    }
}

int CQtMessageBox::Show(const std::wstring& strText, const std::wstring& strCaption, UINT uType) {
    if (QThread::currentThread() == m_pContext->thread()) {
        if ((uType & MB_TYPEMASK) == MB_OK) {
            QMessageBox* pBox = NewBox(strText, strCaption, uType);
            pBox->setAttribute(Qt::WA_DeleteOnClose);
            pBox->open();
            return IDOK;
        }
        return ShowDialog(strText, strCaption, uType);
    }
    struct SReply {
        bool bDone = false;
        bool bAbandoned = false;  // the worker stopped waiting: the box is no longer wanted
        int nAnswer = 0;
    };
    auto pReply = std::make_shared<SReply>();
    std::unique_lock lock(m_mutex);
    if (m_nUnattended > 0) {
        lock.unlock();
        return CStderrMessageBox().Show(strText, strCaption, uType);
    }
    const unsigned nGeneration = m_nGeneration;
    QMetaObject::invokeMethod(
        m_pContext,
        [this, pReply, strText, strCaption, uType] {
            {
                std::lock_guard lockReply(m_mutex);
                if (pReply->bAbandoned) {
                    return;
                }
            }
            const int nAnswer = ShowDialog(strText, strCaption, uType);
            std::lock_guard lockReply(m_mutex);
            pReply->bDone = true;
            pReply->nAnswer = nAnswer;
            m_changed.notify_all();
        },
        Qt::QueuedConnection);
    m_changed.wait(lock, [&] { return pReply->bDone || m_nGeneration != nGeneration; });
    if (pReply->bDone) {
        return pReply->nAnswer;
    }
    pReply->bAbandoned = true;
    lock.unlock();
    return CStderrMessageBox().Show(strText, strCaption, uType);
}

CQtMessageBox::CUnattended::CUnattended(CQtMessageBox& box) : m_box(box) {
    std::lock_guard lock(m_box.m_mutex);
    ++m_box.m_nUnattended;
    ++m_box.m_nGeneration;
    m_box.m_changed.notify_all();
}

CQtMessageBox::CUnattended::~CUnattended() {
    std::lock_guard lock(m_box.m_mutex);
    --m_box.m_nUnattended;
}

std::unique_ptr<CQtMessageBox::CUnattended> Unattended(IMessageBox& box) {
    auto* pQt = dynamic_cast<CQtMessageBox*>(&box);
    return pQt != nullptr ? std::make_unique<CQtMessageBox::CUnattended>(*pQt) : nullptr;
}

}  // namespace Branwick::Wnd
