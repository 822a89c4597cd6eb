#include "ui/ProgressPage/ProgressPage.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/RegError.h"
#include "ui/Bus/QtMessageBox.h"

namespace Branwick::Wnd {

namespace {

struct STexts {
    const char* pszTitle;
    const char* pszSubtitle;
    const char* pszRunning;
    const char* pszItemLabel;
    const char* pszTotal;
    const char* pszDone;
};

constexpr STexts kScanTexts = {
    "Scanning Computer", "Current Scan",
    "Please wait until the scan is complete. To cancel your scan, press 'Cancel'.", "Scanning:",
    "%1 Problem(s) Found", "System scan is complete. Click Next to proceed."};
constexpr STexts kFixTexts = {
    "Fixing Registry of Your Computer", "Current Fix",
    "Please wait until the fix is complete. To cancel your fix, press 'Cancel'.", "Fixing:",
    "%1 Problem(s) Fixed", "System fix is complete. Click Next to proceed."};

}  // namespace

QString ShortenItem(const QString& strItem) {
    if (strItem.size() <= 80) {
        return strItem;
    }
    return strItem.left(5) + "..." + strItem.right(72);
}

CScanFixProgressDlg::CScanFixProgressDlg(SPageSite& site, EMode eMode, QWidget* pParent)
    : QWidget(pParent), m_site(site), m_eMode(eMode) {
    const STexts& t = eMode == EMode::Scan ? kScanTexts : kFixTexts;
    auto* pLayout = new QVBoxLayout(this);
    m_pTitle = new QLabel(tr(t.pszTitle), this);
    m_pTitle->setObjectName("pageTitle");
    m_pSubtitle = new QLabel(tr(t.pszSubtitle), this);
    m_pSubtitle->setObjectName("pageSubtitle");
    pLayout->addWidget(m_pTitle);
    pLayout->addWidget(m_pSubtitle);

    auto* pGrid = new QGridLayout;
    pGrid->setHorizontalSpacing(12);
    pGrid->setVerticalSpacing(2);
    const auto& types = ScanTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        SRow& row = m_rows[i];
        row.pName = new QLabel(QString::fromWCharArray(types[i].pszDisplayName), this);
        row.pBar = new QProgressBar(this);
        row.pBar->setRange(0, 100);
        row.pBar->setTextVisible(false);
        row.pBar->setMaximumHeight(10);
        row.pCount = new QLabel(this);
        row.pCount->setMinimumWidth(48);
        row.pCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const int nRow = static_cast<int>(i % 6);
        const int nColumn = static_cast<int>(i / 6) * 3;
        pGrid->addWidget(row.pName, nRow, nColumn);
        pGrid->addWidget(row.pBar, nRow, nColumn + 1);
        pGrid->addWidget(row.pCount, nRow, nColumn + 2);
    }
    pGrid->setColumnStretch(1, 1);
    pGrid->setColumnStretch(4, 1);
    pLayout->addLayout(pGrid);

    m_pBar = new QProgressBar(this);
    m_pBar->setRange(0, 100);
    pLayout->addWidget(m_pBar);
    auto* pItemRow = new QHBoxLayout;
    m_pItemLabel = new QLabel(tr(t.pszItemLabel), this);
    m_pItem = new QLabel(this);
    m_pItem->setObjectName("currentItem");
    m_pItem->setTextFormat(Qt::PlainText);
    m_pItem->setMinimumWidth(100);
    m_pItem->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pItemRow->addWidget(m_pItemLabel);
    pItemRow->addWidget(m_pItem, 1);
    pLayout->addLayout(pItemRow);
    m_pTotal = new QLabel(this);
    m_pTotal->setObjectName("totalLine");
    pLayout->addWidget(m_pTotal);
    m_pStatus = new QLabel(this);
    m_pStatus->setWordWrap(true);
    pLayout->addWidget(m_pStatus);
    pLayout->addStretch(1);

    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    if (eMode == EMode::Scan) {
        m_pBack = new QPushButton(tr("< &Back"), this);
        m_pNext = new QPushButton(tr("&Next >"), this);
        pButtons->addWidget(m_pBack);
        pButtons->addWidget(m_pNext);
        m_pBack->setEnabled(false);
        m_pNext->setEnabled(false);
        connect(m_pBack, &QPushButton::clicked, this, &CScanFixProgressDlg::Back);
        connect(m_pNext, &QPushButton::clicked, this, &CScanFixProgressDlg::Next);
    }
    m_pCancel = new QPushButton(tr("&Cancel"), this);
    pButtons->addWidget(m_pCancel);
    pLayout->addLayout(pButtons);
    connect(m_pCancel, &QPushButton::clicked, this, &CScanFixProgressDlg::Cancel);
    m_pCancel->setEnabled(false);  // until a scan or fix starts
    SetTotal(0);

    if (eMode == EMode::Scan) {
        m_pObserver = std::make_unique<CWindowObserver>(
            site.m_messages, this,
            std::initializer_list<std::int32_t>{CStartScanMessage::kType, CScanProgressMessage::kType,
                                                CErrorAddedMessage::kType, CFinishScanMessage::kType},
            [this](const CMessage& m) { Handle(m); });
    } else {
        m_pObserver = std::make_unique<CWindowObserver>(
            site.m_messages, this,
            std::initializer_list<std::int32_t>{CStartFixMessage::kType, CFixProgressMessage::kType,
                                                CFinishFixMessage::kType},
            [this](const CMessage& m) { Handle(m); });
    }
}

CScanFixProgressDlg::~CScanFixProgressDlg() = default;

CScanFixProgressDlg::SRow* CScanFixProgressDlg::RowOf(std::int32_t nScanType) {
    const auto& types = ScanTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (types[i].nBit == nScanType) {
            return &m_rows[i];
        }
    }
    return nullptr;
}

void CScanFixProgressDlg::SetTotal(int nCount) {
    m_pTotal->setText(tr(m_eMode == EMode::Scan ? kScanTexts.pszTotal : kFixTexts.pszTotal).arg(nCount));
}

void CScanFixProgressDlg::Handle(const CMessage& message) {
    switch (message.m_nType) {
    case CStartScanMessage::kType:
    case CStartFixMessage::kType:
        OnStart();
        break;
    case CScanProgressMessage::kType:
    case CFixProgressMessage::kType:
        if (!m_bCancelled) {
            OnProgress(static_cast<const CProgressMessage&>(message));
        }
        break;
    case CErrorAddedMessage::kType: {
        const auto& added = static_cast<const CErrorAddedMessage&>(message);
        if (SRow* pRow = RowOf(added.m_nScanType)) {
            pRow->pCount->setText(QString::number(added.m_nErrorCount));
        }
        std::size_t nTotal = 0;
        for (const SScanTypeInfo& info : ScanTypes()) {
            nTotal += m_site.m_scanManager.GetErrorCount(info.nBit);
        }
        SetTotal(static_cast<int>(nTotal));
        break;
    }
    case CFinishScanMessage::kType:
        OnFinish();
        break;
    case CFinishFixMessage::kType: {
        // Progress is coalesced on its way here; the finish carries the true counts.
        int nFixed = 0;
        for (const auto& [nBit, count] : static_cast<const CFinishFixMessage&>(message).m_mapStatistics) {
            if (SRow* pRow = RowOf(nBit)) {
                pRow->pCount->setText(QString::number(count.nFixed));
            }
            nFixed += count.nFixed;
        }
        SetTotal(nFixed);
        OnFinish();
        break;
    }
    default:
        break;
    }
}

void CScanFixProgressDlg::OnStart() {
    const STexts& t = m_eMode == EMode::Scan ? kScanTexts : kFixTexts;
    for (SRow& row : m_rows) {
        row.pBar->setValue(0);
        row.pCount->clear();
    }
    m_pBar->setValue(0);
    m_pItem->clear();
    SetTotal(0);
    m_bCancelled = false;
    m_pCancel->setEnabled(true);
    if (m_pBack != nullptr) {
        m_pBack->setEnabled(false);
        m_pNext->setEnabled(false);
    }
    m_pStatus->setText(tr(t.pszRunning));
}

void CScanFixProgressDlg::OnProgress(const CProgressMessage& progress) {
    const int nPercent = std::clamp(progress.m_nProgress, 0, 100);
    m_pBar->setValue(nPercent);
    SRow* pRow = RowOf(progress.m_nScanType);
    if (pRow != nullptr) {
        pRow->pBar->setValue(nPercent);
    }
    m_pItem->setText(ShortenItem(QString::fromStdWString(progress.m_strScanDescription)));
    if (progress.m_nType == CFixProgressMessage::kType && pRow != nullptr) {
        pRow->pCount->setText(QString::number(static_cast<const CFixProgressMessage&>(progress).m_nErrorCount));
        int nFixed = 0;
        for (const SRow& row : m_rows) {
            nFixed += row.pCount->text().toInt();
        }
        SetTotal(nFixed);
    }
}

void CScanFixProgressDlg::OnFinish() {
    const STexts& t = m_eMode == EMode::Scan ? kScanTexts : kFixTexts;
    for (SRow& row : m_rows) {
        row.pBar->setValue(100);
    }
    m_pCancel->setEnabled(false);
    if (m_pBack != nullptr) {
        m_pBack->setEnabled(true);
        m_pNext->setEnabled(true);
    }
    m_pItem->clear();
    m_pStatus->setText(tr(t.pszDone));
}

void CScanFixProgressDlg::Cancel() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bCancelled = true;
    m_pCancel->setEnabled(false);
    {
        // The interface waits for the engine here: a box the engine asks for now goes to stderr.
        const auto pUnattended = Unattended(m_site.m_messageBox);
        if (m_eMode == EMode::Scan) {
            m_site.m_scanManager.CancelScan();
        } else {
            m_site.m_scanManager.StopFix();
        }
    }
    QApplication::restoreOverrideCursor();
}

}  // namespace Branwick::Wnd
