// The backups page of the settings tab: the backups taken before fixes, newest first, with how
// many files each holds beside its registry data; restoring one (through the backup dialog,
// after which a restored backup is gone) and deleting one after a confirmation.
#pragma once

#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include "ui/BackupsPage/BackupDlg.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CBackupsDlg : public QWidget {
    Q_OBJECT
public:
    enum EColumn { ColumnName = 0, ColumnTime, ColumnFiles };

    CBackupsDlg(SPageSite& site, QWidget* pParent = nullptr);

    QTreeWidget* List() const { return m_pList; }
    QPushButton* RestoreButton() const { return m_pRestore; }
    QPushButton* DeleteButton() const { return m_pDelete; }
    // The restore dialog while it is open.
    CBackupDlg* Dialog() const { return m_pDialog; }
    // Reads the backups folder again.
    void Fill();
    // The selected backup: restore (the dialog is opened, window-modal) or delete (confirmed).
    void RestoreSelected();
    void DeleteSelected();

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    std::wstring SelectedName() const;
    void RemoveRow(const std::wstring& strName);
    void UpdateButtons();

    SPageSite& m_site;
    QTreeWidget* m_pList;
    QPushButton* m_pRestore;
    QPushButton* m_pDelete;
    QPointer<CBackupDlg> m_pDialog;
};

// The text of a local time as the page shows it, e.g. "2026-12-09 04:10:27".
QString BackupTimeText(std::int64_t nTime);

}  // namespace Branwick::Wnd
