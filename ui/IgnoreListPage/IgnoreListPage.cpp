#include "ui/IgnoreListPage/IgnoreListPage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <set>
#include <vector>

namespace Branwick::Wnd {

namespace {

constexpr int kCategoryRole = Qt::UserRole;
constexpr int kEntryRole = Qt::UserRole + 1;

QString DataText(const CIgnoreEntry& entry) {
    QStringList values;
    for (const std::wstring& strValue : entry.m_vcValues) {
        if (!strValue.empty()) {
            values << QString::fromStdWString(strValue);
        }
    }
    return values.join("; ");
}

}  // namespace

CIgnoreListDlg::CIgnoreListDlg(SPageSite& site, QWidget* pParent)
    : QWidget(pParent), m_site(site), m_pList(new QTreeWidget(this)),
      m_pRemove(new QPushButton(tr("&Remove from List"), this)) {
    auto* pLayout = new QVBoxLayout(this);
    auto* pText = new QLabel(tr("Scans do not report these problems. Remove an entry to have it "
                                "reported again by the next scan."),
                             this);
    pText->setWordWrap(true);
    pLayout->addWidget(pText);
    m_pList->setHeaderLabels({tr("Ignored problem"), tr("Data")});
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->setUniformRowHeights(true);
    m_pList->header()->setSectionResizeMode(ColumnPath, QHeaderView::Stretch);
    m_pList->header()->setStretchLastSection(false);
    m_pList->header()->resizeSection(ColumnData, 220);
    pLayout->addWidget(m_pList, 1);
    auto* pRow = new QHBoxLayout;
    pRow->addStretch(1);
    pRow->addWidget(m_pRemove);
    pLayout->addLayout(pRow);
    connect(m_pRemove, &QPushButton::clicked, this, &CIgnoreListDlg::RemoveSelected);
    connect(m_pList, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_pRemove->setEnabled(!m_pList->selectedItems().isEmpty()); });
    Fill();
}

void CIgnoreListDlg::Fill() {
    m_pList->clear();
    const CIgnoreList& list = m_site.m_scanManager.GetIgnoreList();
    for (const SScanTypeInfo& info : ScanTypes()) {
        const std::list<CIgnoreEntry>& entries = list.GetEntries(info.nBit);
        if (entries.empty()) {
            continue;
        }
        auto* pCategory = new QTreeWidgetItem(m_pList);
        pCategory->setText(ColumnPath, QString("%1 (%2)")
                                           .arg(QString::fromWCharArray(info.pszDisplayName))
                                           .arg(entries.size()));
        pCategory->setData(ColumnPath, kCategoryRole, static_cast<int>(info.nBit));
        pCategory->setFirstColumnSpanned(true);
        for (const CIgnoreEntry& entry : entries) {
            auto* pItem = new QTreeWidgetItem(pCategory);
            pItem->setText(ColumnPath, QString::fromStdWString(entry.m_strPath));
            pItem->setToolTip(ColumnPath, pItem->text(ColumnPath));
            pItem->setText(ColumnData, DataText(entry));
            pItem->setData(ColumnPath, kCategoryRole, static_cast<int>(info.nBit));
            pItem->setData(ColumnPath, kEntryRole,
                           QVariant::fromValue(reinterpret_cast<quintptr>(&entry)));
        }
    }
    m_pList->expandAll();
    if (m_pList->topLevelItemCount() == 0) {
        auto* pEmpty = new QTreeWidgetItem(m_pList, {tr("The ignore list is empty.")});
        pEmpty->setFlags(Qt::NoItemFlags);
    }
    m_pRemove->setEnabled(false);
}

void CIgnoreListDlg::RemoveSelected() {
    // An entry selected on its own and through its category is taken off once.
    std::set<std::pair<int, const CIgnoreEntry*>> selected;
    for (const QTreeWidgetItem* pItem : m_pList->selectedItems()) {
        const int nCategory = pItem->data(ColumnPath, kCategoryRole).toInt();
        if (pItem->parent() != nullptr) {
            selected.emplace(nCategory, reinterpret_cast<const CIgnoreEntry*>(
                                            pItem->data(ColumnPath, kEntryRole).value<quintptr>()));
            continue;
        }
        for (const CIgnoreEntry& entry : m_site.m_scanManager.GetIgnoreList().GetEntries(nCategory)) {
            selected.emplace(nCategory, &entry);
        }
    }
    if (selected.empty()) {
        return;
    }
    // Copies: a removal reads the list again (another program may have changed it), after which
    // the entries are other objects, found again by what they hold.
    std::vector<std::pair<int, CIgnoreEntry>> removed;
    for (const auto& [nCategory, pEntry] : selected) {
        removed.emplace_back(nCategory, *pEntry);
    }
    CIgnoreList& list = m_site.m_scanManager.GetIgnoreList();
    for (const auto& [nCategory, gone] : removed) {
        const std::list<CIgnoreEntry>& entries = list.GetEntries(nCategory);
        const auto found = std::find(entries.begin(), entries.end(), gone);
        if (found == entries.end()) {
            continue;
        }
        if (!list.Remove(nCategory, &*found)) {
            m_site.m_messageBox.Show(L"The ignore list was not changed: " + list.LastError(), L"Corvane",
                                     MB_OK | MB_ICONEXCLAMATION);
            break;
        }
    }
    Fill();
}

void CIgnoreListDlg::showEvent(QShowEvent* pEvent) {
    Fill();
    QWidget::showEvent(pEvent);
}

}  // namespace Branwick::Wnd
