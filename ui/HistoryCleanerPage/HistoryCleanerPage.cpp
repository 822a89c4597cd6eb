#include "ui/HistoryCleanerPage/HistoryCleanerPage.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace Branwick::Wnd {

namespace {

const SHistoryItemInfo* FindItem(std::int32_t nBit) {
    for (const SHistoryItemInfo& info : kHistoryItems) {
        if (static_cast<std::int32_t>(info.nBit) == nBit) {
            return &info;
        }
    }
    return nullptr;
}

struct SArea {
    EHistoryArea eArea;
    const char* pszHeading;
    const char* pszCategory;  // the results' category, %1 the item's caption
};

constexpr SArea kAreas[] = {
    {EHistoryArea::InternetExplorer, "Clean Internet Explorer", "Internet Explorer%1"},
    {EHistoryArea::Firefox, "Clean FireFox", "FireFox%1"},
    {EHistoryArea::Windows, "Clean Windows", "Windows%1"},
};

}  // namespace

QString HistoryCategoryText(std::int32_t nBit) {
    const SHistoryItemInfo* pInfo = FindItem(nBit);
    if (pInfo == nullptr) {
        return {};
    }
    for (const SArea& area : kAreas) {
        if (area.eArea == pInfo->eArea) {
            return QString::fromLatin1(area.pszCategory).arg(QString::fromWCharArray(pInfo->pszCaption));
        }
    }
    return {};
}

QString HistoryStatusText(std::int32_t nResult) {
    switch (nResult) {
    case 0:
        return QStringLiteral("Succesfully cleared");
    case 1:
        return QStringLiteral("Reboot required");
    case 2:
        // The engine could neither erase it nor hand it to the next start: say so rather than
        // leave a blank that reads like nothing happened.
        return QStringLiteral("Not cleared");
    default:
        return {};
    }
}

QString HistoryItemNote(DWORD dwBit, Platform::ETargetKind eKind) {
    if (dwBit == HC_WINDOWS_RECYCLE_BIN) {
        return eKind == Platform::ETargetKind::OfflineVolume
                   ? QObject::tr("Empties the recycle bins of every user on this volume.")
                   : QObject::tr("Empties only the entries of your desktop trash that were deleted from inside "
                                 "this prefix; the rest of your trash stays.");
    }
    if (dwBit == HC_WINDOWS_TEMPORARY_FILES) {
        return QObject::tr("The user's temporary folder and the Temp folder in the Windows folder.");
    }
    return {};
}

// ---------------------------------------------------------------------------------------------

CProgressDialog::CProgressDialog(const QString& strCaption, QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint);
    auto* pLayout = new QVBoxLayout(this);
    auto* pCaption = new QLabel(strCaption, this);
    QFont font(QStringLiteral("Verdana"), 12);
    font.setBold(true);
    pCaption->setFont(font);
    pLayout->addWidget(pCaption);
    m_pBar = new QProgressBar(this);
    m_pBar->setRange(0, 0);
    m_pBar->setMinimumWidth(320);
    pLayout->addWidget(m_pBar);
}

void CProgressDialog::Progress(const CGenProgressMessage& progress) {
    if (progress.m_nMaxProgress > 0) {
        m_pBar->setRange(0, progress.m_nMaxProgress);
    }
    m_pBar->setValue(progress.m_nCurProgress);
}

// ---------------------------------------------------------------------------------------------

CHistoryCleanResultsDlg::CHistoryCleanResultsDlg(const std::vector<CHistoryCleanerMessage>& vcResults,
                                                 QWidget* pParent)
    : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Corvane"));
    resize(720, 420);
    auto* pLayout = new QVBoxLayout(this);
    m_pTable = new QTableWidget(static_cast<int>(vcResults.size()), 3, this);
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("Category"), QStringLiteral("File"), QStringLiteral("Status")});
    m_pTable->verticalHeader()->hide();
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setTextElideMode(Qt::ElideMiddle);
    m_pTable->setWordWrap(false);
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    for (int nRow = 0; nRow < static_cast<int>(vcResults.size()); ++nRow) {
        const CHistoryCleanerMessage& result = vcResults[static_cast<std::size_t>(nRow)];
        const QString strFile = QString::fromStdWString(result.m_sHistoryEntity);
        m_pTable->setItem(nRow, 0, new QTableWidgetItem(HistoryCategoryText(result.m_hcType)));
        auto* pFile = new QTableWidgetItem(strFile);
        pFile->setToolTip(strFile);
        m_pTable->setItem(nRow, 1, pFile);
        m_pTable->setItem(nRow, 2, new QTableWidgetItem(HistoryStatusText(result.m_hcRes)));
    }
    pLayout->addWidget(m_pTable);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pLayout->addWidget(pButtons);
}

void CHistoryCleanResultsDlg::resizeEvent(QResizeEvent* pEvent) {
    QDialog::resizeEvent(pEvent);
    // From the dialog's width: the table itself is not laid out yet at the first resize.
    const QMargins margins = layout()->contentsMargins();
    const int nWidth = width() - margins.left() - margins.right() - 2 * m_pTable->frameWidth();
    m_pTable->setColumnWidth(0, nWidth * 30 / 100);
    m_pTable->setColumnWidth(1, nWidth * 40 / 100);
}

// ---------------------------------------------------------------------------------------------

CHistoryCleanerDlg::CHistoryCleanerDlg(SPageSite& site, QWidget* pParent) : QWidget(pParent), m_site(site) {
    auto* pLayout = new QVBoxLayout(this);
    // The three areas side by side keep the page as low as the other pages.
    auto* pAreas = new QHBoxLayout;
    pLayout->addLayout(pAreas);
    const DWORD dwFlags = m_site.m_settings.GetHistoryFlags();
    for (const SArea& area : kAreas) {
        auto* pGroup = new QGroupBox(QString::fromLatin1(area.pszHeading), this);
        auto* pGroupLayout = new QVBoxLayout(pGroup);
        // The page lists an area's items in the order of their bits.
        std::vector<const SHistoryItemInfo*> vcItems;
        for (const SHistoryItemInfo& info : kHistoryItems) {
            if (info.eArea == area.eArea) {
                vcItems.push_back(&info);
            }
        }
        std::sort(vcItems.begin(), vcItems.end(), [](auto* a, auto* b) { return a->nBit < b->nBit; });
        for (const SHistoryItemInfo* pInfo : vcItems) {
            auto* pBox = new QCheckBox(QString::fromWCharArray(pInfo->pszCaption), pGroup);
            pBox->setChecked((dwFlags & pInfo->nBit) != 0);
            const QString strNote = HistoryItemNote(pInfo->nBit, m_site.m_target.Kind());
            pGroupLayout->addWidget(pBox);
            if (!strNote.isEmpty()) {
                pBox->setToolTip(strNote);
                auto* pNote = new QLabel(strNote, pGroup);
                pNote->setWordWrap(true);
                pNote->setContentsMargins(24, 0, 0, 0);
                pNote->setForegroundRole(QPalette::PlaceholderText);
                pGroupLayout->addWidget(pNote);
            }
            const DWORD dwBit = pInfo->nBit;
            connect(pBox, &QCheckBox::toggled, this, [this, dwBit](bool bOn) { Toggle(dwBit, bOn); });
            m_mapItems[dwBit] = pBox;
        }
        pGroupLayout->addStretch();
        pAreas->addWidget(pGroup, 1);
    }
    pLayout->addStretch();
    m_pClean = new QPushButton(tr("Clean"), this);
    m_pClean->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_pClean, &QPushButton::clicked, this, &CHistoryCleanerDlg::Clean);
    pLayout->addWidget(m_pClean, 0, Qt::AlignRight);
}

void CHistoryCleanerDlg::Toggle(DWORD dwBit, bool bOn) {
    // Each change is saved at once by the store.
    if (bOn) {
        m_site.m_settings.AddHistoryFlags(dwBit);
    } else {
        m_site.m_settings.RemoveHistoryFlags(dwBit);
    }
}

void CHistoryCleanerDlg::Clean() {
    const DWORD dwItems = m_site.m_settings.GetHistoryFlags();
    if (dwItems == 0) {
        m_site.m_messageBox.Show(L"Please select at least one item to clean.", L"Corvane", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (m_site.m_messageBox.Show(L"Are you sure? This operation cannot be undone.", L"Corvane",
                                 MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    std::vector<CHistoryCleanerMessage> vcResults;
    CProgressDialog progress(QStringLiteral("Clearing History..."), window());
    // One observer for results, progress and the end: it hands them over in the order the engine
    // posted them, so every result is in before the end closes the dialog.
    const CWindowObserver observer(
        m_site.m_messages, &progress,
        {CHistoryCleanerMessage::kType, CGenProgressMessage::kType, CFinishProgressMessage::kType},
        [&](const CMessage& message) {
            if (message.m_nType == CHistoryCleanerMessage::kType) {
                vcResults.push_back(static_cast<const CHistoryCleanerMessage&>(message));
            } else if (message.m_nType == CGenProgressMessage::kType) {
                progress.Progress(static_cast<const CGenProgressMessage&>(message));
            } else {
                progress.done(1);
            }
        });
    if (m_site.m_scanManager.StartHistoryCleaning(dwItems) == 0) {
        return;  // the scan manager has told the user why
    }
    progress.exec();
    CHistoryCleanResultsDlg results(vcResults, window());
    results.exec();
}

}  // namespace Branwick::Wnd
