#include "ui/StartupManagerPage/StartupManagerPage.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

namespace Branwick::Wnd {

CToolsDlg::CToolsDlg(SPageSite& site, QWidget* pParent)
    : QWidget(pParent), m_site(site), m_manager(site.m_target, site.m_settings, GetDataFolder(site.m_target)) {
    auto* pLayout = new QVBoxLayout(this);
    auto* pIntro = new QLabel(tr("Programs that start when the user logs on. Check entries to disable, enable "
                                 "or delete them. Entries of the all-users Startup folder are listed too; "
                                 "Wine and Windows start them for every user."),
                              this);
    pIntro->setWordWrap(true);
    pLayout->addWidget(pIntro);

    m_pList = new QTreeWidget(this);
    m_pList->setRootIsDecorated(false);
    m_pList->setUniformRowHeights(true);
    m_pList->setAlternatingRowColors(true);
    m_pList->setTextElideMode(Qt::ElideMiddle);
    m_pList->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Path"), QStringLiteral("Enabled / Disabled"),
                              tr("Location")});
    m_pList->header()->setStretchLastSection(false);
    m_pList->header()->setSectionResizeMode(ColumnPath, QHeaderView::Stretch);
    m_pList->setColumnWidth(ColumnName, 150);
    m_pList->setColumnWidth(ColumnState, 120);
    m_pList->setColumnWidth(ColumnLocation, 330);
    connect(m_pList, &QTreeWidget::itemChanged, this, [this] { UpdateButtons(); });
    pLayout->addWidget(m_pList);

    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    m_pDisable = new QPushButton(tr("Disable"), this);
    m_pEnable = new QPushButton(tr("Enable"), this);
    m_pDelete = new QPushButton(tr("Delete"), this);
    for (QPushButton* pButton : {m_pDisable, m_pEnable, m_pDelete}) {
        pButtons->addWidget(pButton);
    }
    connect(m_pDisable, &QPushButton::clicked, this, &CToolsDlg::DisableChecked);
    connect(m_pEnable, &QPushButton::clicked, this, &CToolsDlg::EnableChecked);
    connect(m_pDelete, &QPushButton::clicked, this, &CToolsDlg::DeleteChecked);
    pLayout->addLayout(pButtons);
    Fill();
}

void CToolsDlg::Fill() {
    const QSignalBlocker quiet(m_pList);
    m_pList->clear();
    m_vcItems = m_manager.List();
    const bool b64Bit = m_site.m_target.Is64Bit();
    for (const CStartupItem& item : m_vcItems) {
        auto* pRow = new QTreeWidgetItem(m_pList);
        pRow->setFlags(pRow->flags() | Qt::ItemIsUserCheckable);
        pRow->setCheckState(ColumnName, Qt::Unchecked);
        pRow->setText(ColumnName, QString::fromStdWString(item.m_strName));
        pRow->setText(ColumnPath, QString::fromStdWString(item.m_strData));
        pRow->setToolTip(ColumnPath, QString::fromStdWString(item.m_strData));
        pRow->setText(ColumnState, item.m_bEnabled ? QStringLiteral("Enabled") : QStringLiteral("Disabled"));
        const QString strLocation = QString::fromStdWString(StartupLocation(item, b64Bit));
        pRow->setText(ColumnLocation, strLocation);
        pRow->setToolTip(ColumnLocation, strLocation);
    }
    UpdateButtons();
}

void CToolsDlg::UpdateButtons() {
    bool bAny = false, bEnabled = false, bDisabled = false;
    for (int nRow = 0; nRow < m_pList->topLevelItemCount(); ++nRow) {
        if (m_pList->topLevelItem(nRow)->checkState(ColumnName) == Qt::Checked) {
            bAny = true;
            (m_vcItems[static_cast<std::size_t>(nRow)].m_bEnabled ? bEnabled : bDisabled) = true;
        }
    }
    m_pDelete->setEnabled(bAny);
    m_pDisable->setEnabled(bEnabled);
    m_pEnable->setEnabled(bDisabled);
}

void CToolsDlg::DisableChecked() {
    ChangeChecked(false, false);
}

void CToolsDlg::EnableChecked() {
    ChangeChecked(true, false);
}

void CToolsDlg::DeleteChecked() {
    ChangeChecked(false, true);
}

void CToolsDlg::ChangeChecked(bool bEnable, bool bRemove) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::wstring strFailed;
    for (int nRow = 0; nRow < m_pList->topLevelItemCount(); ++nRow) {
        const CStartupItem& item = m_vcItems[static_cast<std::size_t>(nRow)];
        const bool bQualifies = bRemove || item.m_bEnabled != bEnable;
        if (m_pList->topLevelItem(nRow)->checkState(ColumnName) != Qt::Checked || !bQualifies) {
            continue;
        }
        const CStatus result = m_manager.SetStartupState(item, bEnable, bRemove);
        if (!result.Ok()) {
            strFailed += item.m_strName + L": " + result.m_strText + L"\n";
        }
    }
    // The list shows what is there now, not what was asked for.
    Fill();
    QApplication::restoreOverrideCursor();
    if (!strFailed.empty()) {
        m_site.m_messageBox.Show(L"Some entries could not be changed:\n" + strFailed, L"Corvane", MB_OK | MB_ICONEXCLAMATION);
    }
}

}  // namespace Branwick::Wnd
