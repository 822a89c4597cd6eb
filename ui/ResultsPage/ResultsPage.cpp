#include "ui/ResultsPage/ResultsPage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QVBoxLayout>

namespace Branwick::Wnd {

CResultsDlg::CResultsDlg(SPageSite& site, QWidget* pParent) : QWidget(pParent), m_site(site) {
    auto* pLayout = new QVBoxLayout(this);
    m_pTitle = new QLabel(this);
    m_pTitle->setObjectName("pageTitle");
    pLayout->addWidget(m_pTitle);

    auto* pSplitter = new QSplitter(this);
    m_pCategories = new QListWidget(pSplitter);
    m_pCategories->setMinimumWidth(150);
    m_pView = new QTreeView(pSplitter);
    m_pModel = new CRecordModel(m_pView);
    m_pDelegate = new CRecordDelegate(m_pView);
    m_pView->setModel(m_pModel);
    m_pView->setItemDelegate(m_pDelegate);
    m_pView->setRootIsDecorated(false);
    m_pView->setUniformRowHeights(true);
    m_pView->setAlternatingRowColors(true);
    m_pView->setMouseTracking(true);
    m_pView->header()->setStretchLastSection(false);
    m_pView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_pView->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    pSplitter->setStretchFactor(1, 1);
    pSplitter->setSizes({200, 680});  // the paths need the room
    pLayout->addWidget(pSplitter, 1);

    auto* pButtons = new QHBoxLayout;
    auto* pMark = new QPushButton(tr("&Mark All"), this);
    auto* pUnmark = new QPushButton(tr("&Unmark All"), this);
    m_pRescan = new QPushButton(tr("Resca&n"), this);
    m_pFix = new QPushButton(tr("&Fix"), this);
    m_pFix->setObjectName("primaryButton");
    pButtons->addWidget(pMark);
    pButtons->addWidget(pUnmark);
    pButtons->addStretch(1);
    pButtons->addWidget(m_pRescan);
    pButtons->addWidget(m_pFix);
    pLayout->addLayout(pButtons);

    connect(pMark, &QPushButton::clicked, this, [this] { MarkAll(true); });
    connect(pUnmark, &QPushButton::clicked, this, [this] { MarkAll(false); });
    connect(m_pFix, &QPushButton::clicked, this, &CResultsDlg::Fix);
    connect(m_pRescan, &QPushButton::clicked, this, &CResultsDlg::Rescan);
    connect(m_pCategories, &QListWidget::currentRowChanged, this, &CResultsDlg::SelectCategory);
    connect(m_pDelegate, &CRecordDelegate::IgnoreClicked, this, &CResultsDlg::IgnoreRow);
    ShowDetected();
}

int CResultsDlg::CollectedCount() const {
    std::size_t nTotal = 0;
    for (const SScanTypeInfo& info : ScanTypes()) {
        nTotal += m_site.m_scanManager.GetErrorCount(info.nBit);
    }
    return static_cast<int>(nTotal);
}

void CResultsDlg::Fill() {
    m_pTitle->setText(tr("%1 Issues Found!").arg(CollectedCount()));
    const QSignalBlocker block(m_pCategories);
    m_pCategories->clear();
    for (const SScanTypeInfo& info : ScanTypes()) {
        if ((m_site.m_scanManager.GetScanCategories() & static_cast<DWORD>(info.nBit)) == 0) {
            continue;
        }
        auto* pItem = new QListWidgetItem(m_pCategories);
        pItem->setData(Qt::UserRole, static_cast<int>(info.nBit));
        pItem->setText(QString("%1 (%2)")
                           .arg(QString::fromWCharArray(info.pszDisplayName))
                           .arg(m_site.m_scanManager.GetErrorCount(info.nBit)));
    }
    m_pCategories->setCurrentRow(0);
    SelectCategory(m_pCategories->currentRow());
    m_pFix->setEnabled(true);
}

void CResultsDlg::Clear() {
    m_pModel->SetRecords({}, &m_site.m_target.Registry());
    const QSignalBlocker block(m_pCategories);
    m_pCategories->clear();
}

void CResultsDlg::ShowFixed(int nFixed) { m_pTitle->setText(tr("%1 Issues Fixed!").arg(nFixed)); }

void CResultsDlg::ShowDetected() {
    int nCount = 0;
    for (const SScanTypeInfo& info : ScanTypes()) {
        const CLastScanCounters counters = m_site.m_settings.GetLastScan(info.nBit);
        nCount += std::max(0, counters.found - counters.fixed - counters.ignored);
    }
    m_pTitle->setText(tr("%1 Issues Detected!").arg(nCount));
}

void CResultsDlg::SelectCategory(int nRow) {
    std::vector<CRegError*> vcRecords;
    if (QListWidgetItem* pItem = m_pCategories->item(nRow)) {
        const auto nBit = static_cast<ScanType>(pItem->data(Qt::UserRole).toInt());
        const auto it = m_site.m_scanManager.GetErrors().find(nBit);
        if (it != m_site.m_scanManager.GetErrors().end()) {
            for (CRegError& record : it->second) {
                vcRecords.push_back(&record);
            }
        }
    }
    m_pModel->SetRecords(std::move(vcRecords), &m_site.m_target.Registry());
}

void CResultsDlg::IgnoreRow(int nRow) {
    if (nRow < 0 || nRow >= m_pModel->rowCount()) {
        return;
    }
    CRegError* pRecord = m_pModel->Record(nRow);
    const std::int32_t nBit = pRecord->m_nScanType;
    // The model must let go of the record before the collection drops it.
    m_pModel->SetRecords({}, &m_site.m_target.Registry());
    m_site.m_scanManager.IgnoreError(nBit, pRecord);
    if (QListWidgetItem* pItem = m_pCategories->currentItem()) {
        pItem->setText(QString("%1 (%2)").arg(QString::fromStdWString(ScanTypeDisplayName(nBit)))
                           .arg(m_site.m_scanManager.GetErrorCount(nBit)));
    }
    SelectCategory(m_pCategories->currentRow());
}

void CResultsDlg::MarkAll(bool bMark) {
    for (auto& [nBit, records] : m_site.m_scanManager.GetErrors()) {
        for (CRegError& record : records) {
            record.m_nState = bMark ? FIX_STATE_TO_FIX : FIX_STATE_LEFT;
        }
    }
    m_pModel->MarkAll(bMark);
}

CResultsTab::CResultsTab(SPageSite& site, QWidget* pParent)
    : QWidget(pParent),
      m_pStack(new QStackedWidget(this)),
      m_pResults(new CResultsDlg(site, m_pStack)),
      m_pProgress(new CScanFixProgressDlg(site, CScanFixProgressDlg::EMode::Fix, m_pStack)) {
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addWidget(m_pStack);
    m_pStack->addWidget(m_pResults);
    m_pStack->addWidget(m_pProgress);
    m_pObserver = std::make_unique<CWindowObserver>(
        site.m_messages, this,
        std::initializer_list<std::int32_t>{CStartFixMessage::kType, CFinishFixMessage::kType,
                                            CStartFixAutoMessage::kType},
        [this](const CMessage& m) { Handle(m); });
}

CResultsTab::~CResultsTab() = default;

void CResultsTab::Handle(const CMessage& message) {
    switch (message.m_nType) {
    case CStartFixMessage::kType:
        m_pStack->setCurrentWidget(m_pProgress);
        break;
    case CFinishFixMessage::kType: {
        int nFixed = 0;
        for (const auto& [nBit, count] : static_cast<const CFinishFixMessage&>(message).m_mapStatistics) {
            nFixed += count.nFixed;
        }
        m_pResults->Fill();
        m_pResults->ShowFixed(nFixed);
        m_pStack->setCurrentWidget(m_pResults);
        break;
    }
    case CStartFixAutoMessage::kType:
        // Queued once more, so that the fix starts after every observer has seen the message.
        QMetaObject::invokeMethod(m_pResults->FixButton(), &QPushButton::click, Qt::QueuedConnection);
        break;
    default:
        break;
    }
}

}  // namespace Branwick::Wnd
