// The dialog that follows the creation of a backup before a fix, or restores one: a progress bar,
// a line that says what happens, and Cancel. It follows the bus by itself once constructed.
//
// Restore mode starts the restore of its backup; a completed restore deletes the backup, and the
// dialog closes itself a second later (accepted). A restore that fails (a file that does not
// load, a registry that refuses the write) keeps the backup, and the dialog stays open
// and says what failed until the user closes it (rejected). A restore cannot be cancelled: it is
// written in one go at its end. Create mode only follows a creation
// that someone else started and closes itself a second after it ends. The second's pause is a
// timer: the window never freezes.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <memory>

#include "ui/Bus/WindowObserver.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CBackupDlg : public QDialog {
    Q_OBJECT
public:
    enum class EMode { Create, Restore };
    static constexpr int kPauseMs = 1000;

    // strName: the backup to restore (restore mode only).
    CBackupDlg(SPageSite& site, EMode eMode, const std::wstring& strName = {}, QWidget* pParent = nullptr);
    ~CBackupDlg() override;

    // Restore mode: starts the restore. False when it could not start (the reason was shown).
    bool Start();

    EMode Mode() const { return m_eMode; }
    QString Status() const { return m_pStatus->text(); }
    QProgressBar* Bar() const { return m_pBar; }
    QPushButton* CancelButton() const { return m_pCancel; }
    // Restore mode, once it has ended: whether everything was restored (and the backup deleted).
    bool Restored() const { return m_bRestored; }

protected:
    void reject() override;

private:
    void Handle(const CMessage& message);
    void OnRestored();
    void Cancel();

    SPageSite& m_site;
    EMode m_eMode;
    std::wstring m_strName;
    bool m_bRunning = false;
    bool m_bRestored = false;
    QLabel* m_pStatus;
    QProgressBar* m_pBar;
    QPushButton* m_pCancel;
    std::unique_ptr<CWindowObserver> m_pObserver;
};

}  // namespace Branwick::Wnd
