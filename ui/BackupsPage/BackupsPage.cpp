#include "ui/BackupsPage/BackupsPage.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

namespace Branwick::Wnd {

QString BackupTimeText(std::int64_t nTime) {
    return QDateTime::fromSecsSinceEpoch(nTime).toString("yyyy-MM-dd HH:mm:ss");
}

CBackupsDlg::CBackupsDlg(SPageSite& site, QWidget* pParent)
    : QWidget(pParent), m_site(site), m_pList(new QTreeWidget(this)),
      m_pRestore(new QPushButton(tr("&Restore"), this)), m_pDelete(new QPushButton(tr("&Delete"), this)) {
    auto* pLayout = new QVBoxLayout(this);
    auto* pText = new QLabel(tr("Before each fix Corvane can save the registry data and files it "
                                "changes. Restoring a backup puts them back and then deletes the backup."),
                             this);
    pText->setWordWrap(true);
    pLayout->addWidget(pText);
    m_pList->setHeaderLabels({tr("Name"), tr("Date and Time"), tr("Files")});
    m_pList->setRootIsDecorated(false);
    m_pList->setUniformRowHeights(true);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->header()->setSectionResizeMode(ColumnName, QHeaderView::Stretch);
    m_pList->header()->setStretchLastSection(false);
    m_pList->header()->resizeSection(ColumnTime, 170);
    m_pList->header()->resizeSection(ColumnFiles, 90);
    pLayout->addWidget(m_pList, 1);
    auto* pRow = new QHBoxLayout;
    pRow->addStretch(1);
    pRow->addWidget(m_pRestore);
    pRow->addWidget(m_pDelete);
    pLayout->addLayout(pRow);
    connect(m_pRestore, &QPushButton::clicked, this, &CBackupsDlg::RestoreSelected);
    connect(m_pDelete, &QPushButton::clicked, this, &CBackupsDlg::DeleteSelected);
    connect(m_pList, &QTreeWidget::itemSelectionChanged, this, &CBackupsDlg::UpdateButtons);
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, &CBackupsDlg::RestoreSelected);
    Fill();
}

void CBackupsDlg::Fill() {
    m_site.m_backUpManager.Reload();
    m_pList->clear();
    const auto backups = m_site.m_backUpManager.GetBackups();
    for (auto it = backups.rbegin(); it != backups.rend(); ++it) {
        auto* pItem = new QTreeWidgetItem(m_pList);
        pItem->setText(ColumnName, QString::fromStdWString(it->second));
        pItem->setText(ColumnTime, BackupTimeText(it->first));
        // A backup of registry data alone says nothing here.
        if (const std::size_t nFiles = m_site.m_backUpManager.CountFiles(it->second); nFiles != 0) {
            pItem->setText(ColumnFiles, nFiles == 1 ? tr("1 file") : tr("%1 files").arg(nFiles));
        }
    }
    if (m_pList->topLevelItemCount() > 0) {
        m_pList->setCurrentItem(m_pList->topLevelItem(0));
    }
    UpdateButtons();
}

std::wstring CBackupsDlg::SelectedName() const {
    const QList<QTreeWidgetItem*> selected = m_pList->selectedItems();
    return selected.size() == 1 ? selected[0]->text(ColumnName).toStdWString() : std::wstring();
}

void CBackupsDlg::UpdateButtons() {
    const bool bSelected = !SelectedName().empty() && m_pDialog == nullptr;
    m_pRestore->setEnabled(bSelected);
    m_pDelete->setEnabled(bSelected);
}

void CBackupsDlg::RestoreSelected() {
    const std::wstring strName = SelectedName();
    if (strName.empty() || m_pDialog != nullptr) {
        return;
    }
    const CStatus writable = m_site.m_target.Registry().CheckWritable();
    if (!writable.Ok()) {
        m_site.m_messageBox.Show(
            L"Nothing was restored, because the target cannot be written now.\n\n" +
                writable.m_strText,
            L"Corvane", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_pDialog = new CBackupDlg(m_site, CBackupDlg::EMode::Restore, strName, this);
    m_pDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_pDialog, &QDialog::finished, this, [this, strName] {
        if (m_pDialog != nullptr && m_pDialog->Restored()) {
            RemoveRow(strName);
        }
        m_pDialog = nullptr;
        UpdateButtons();
    });
    UpdateButtons();
    // Window-modal and without a nested event loop: the page waits, the program does not.
    m_pDialog->open();
    if (!m_pDialog->Start()) {
        m_pDialog->close();
    }
}

void CBackupsDlg::DeleteSelected() {
    const std::wstring strName = SelectedName();
    if (strName.empty() ||
        m_site.m_messageBox.Show(L"Delete the backup " + strName + L"? What it holds cannot be restored then.",
                                 L"Corvane", MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    std::wstring strError;
    if (!m_site.m_backUpManager.DeleteBackup(strName, strError)) {
        m_site.m_messageBox.Show(L"The backup " + strName + L" was not deleted: " + strError, L"Corvane",
                                 MB_OK | MB_ICONEXCLAMATION);
        Fill();
        return;
    }
    RemoveRow(strName);
}

void CBackupsDlg::RemoveRow(const std::wstring& strName) {
    const QList<QTreeWidgetItem*> found =
        m_pList->findItems(QString::fromStdWString(strName), Qt::MatchExactly, ColumnName);
    for (QTreeWidgetItem* pItem : found) {
        delete pItem;
    }
    m_site.m_backUpManager.Reload();
    UpdateButtons();
}

void CBackupsDlg::showEvent(QShowEvent* pEvent) {
    if (m_pDialog == nullptr) {
        Fill();
    }
    QWidget::showEvent(pEvent);
}

}  // namespace Branwick::Wnd
