#include "ui/BackupsPage/BackupDlg.h"

#include <QDialogButtonBox>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/Bus/QtMessageBox.h"

namespace Branwick::Wnd {

CBackupDlg::CBackupDlg(SPageSite& site, EMode eMode, const std::wstring& strName, QWidget* pParent)
    : QDialog(pParent), m_site(site), m_eMode(eMode), m_strName(strName),
      m_pStatus(new QLabel(this)), m_pBar(new QProgressBar(this)),
      m_pCancel(new QPushButton(tr("Cancel"), this)) {
    setWindowTitle("Corvane");
    setMinimumWidth(460);
    auto* pLayout = new QVBoxLayout(this);
    m_pStatus->setWordWrap(true);
    m_pStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pStatus->setText(eMode == EMode::Create
                           ? tr("Backing up what the fix will change...")
                           : tr("Restoring %1...").arg(QString::fromStdWString(strName)));
    pLayout->addWidget(m_pStatus);
    // Busy until the first progress says how much there is.
    m_pBar->setRange(0, 0);
    pLayout->addWidget(m_pBar);
    auto* pButtons = new QDialogButtonBox(this);
    pButtons->addButton(m_pCancel, QDialogButtonBox::RejectRole);
    pLayout->addWidget(pButtons);
    connect(m_pCancel, &QPushButton::clicked, this, &CBackupDlg::reject);
    m_pObserver = std::make_unique<CWindowObserver>(
        site.m_messages, this,
        std::initializer_list<std::int32_t>{CRestoreCreateBkupProgress::kType, CCreateBkupFinishMsg::kType,
                                            CRestoreBkupFinishMsg::kType},
        [this](const CMessage& message) { Handle(message); });
    m_bRunning = eMode == EMode::Create;
    if (eMode == EMode::Restore) {
        // A restore is written in one go at its end; there is no half to stop at.
        m_pCancel->setEnabled(false);
    }
}

CBackupDlg::~CBackupDlg() {
    m_pObserver.reset();
}

bool CBackupDlg::Start() {
    if (m_eMode != EMode::Restore) {
        return false;
    }
    m_bRunning = m_site.m_backUpManager.RestoreBackup(m_strName) != 0;
    return m_bRunning;
}

void CBackupDlg::Handle(const CMessage& message) {
    if (!m_bRunning) {
        return;
    }
    switch (message.m_nType) {
    case CRestoreCreateBkupProgress::kType: {
        const auto& progress = static_cast<const CRestoreCreateBkupProgress&>(message);
        if (progress.m_nTotal != 0) {
            m_pBar->setRange(0, progress.m_nTotal);
            m_pBar->setValue(progress.m_nCurrent);
        }
        break;
    }
    case CCreateBkupFinishMsg::kType:
        if (m_eMode == EMode::Create) {
            m_bRunning = false;
            m_pBar->setRange(0, 1);
            m_pBar->setValue(1);
            m_pStatus->setText(tr("The backup is taken."));
            m_pCancel->setEnabled(false);
            QTimer::singleShot(kPauseMs, this, &QDialog::accept);
        }
        break;
    case CRestoreBkupFinishMsg::kType:
        if (m_eMode == EMode::Restore) {
            m_bRunning = false;
            OnRestored();
        }
        break;
    default:
        break;
    }
}

void CBackupDlg::OnRestored() {
    m_pBar->setRange(0, 1);
    if (!m_site.m_backUpManager.LastRestoreSucceeded()) {
        // The backup stays: it still holds what was not put back.
        m_pBar->setValue(0);
        QStringList failures;
        for (const std::wstring& strFailure : m_site.m_backUpManager.LastRestoreFailures()) {
            failures << QString::fromStdWString(strFailure);
        }
        m_pStatus->setText(tr("The backup %1 was not restored, and it is kept.\n\n%2")
                               .arg(QString::fromStdWString(m_strName), failures.join("\n")));
        m_pCancel->setText(tr("Close"));
        m_pCancel->setEnabled(true);
        return;
    }
    m_bRestored = true;
    m_pBar->setValue(1);
    std::wstring strError;
    if (m_site.m_backUpManager.DeleteBackup(m_strName, strError)) {
        m_pStatus->setText(tr("Everything in the backup is restored."));
    } else {
        m_pStatus->setText(tr("Everything in the backup is restored, but the backup could not be deleted: %1")
                               .arg(QString::fromStdWString(strError)));
    }
    m_pCancel->setEnabled(false);
    QTimer::singleShot(kPauseMs, this, &QDialog::accept);
}

void CBackupDlg::Cancel() {
    m_pCancel->setEnabled(false);
    m_pStatus->setText(tr("Stopping..."));
    // A box that the worker asks for now could not be answered while this thread waits.
    const auto pUnattended = Unattended(m_site.m_messageBox);
    m_site.m_backUpManager.StopBackup();
}

void CBackupDlg::reject() {
    if (m_bRunning && m_eMode == EMode::Restore) {
        return;
    }
    if (m_bRunning) {
        // The finish message that the stopped worker still posts closes the dialog or says why.
        Cancel();
        return;
    }
    if (m_pCancel->isEnabled() || m_eMode == EMode::Restore) {
        QDialog::reject();
    }
}

}  // namespace Branwick::Wnd
