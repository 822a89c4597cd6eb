#include "ui/ProcessManagerPage/ProcMgrDlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QVBoxLayout>

#include <utility>

namespace Branwick::Wnd {

namespace {

constexpr wchar_t kWarning[] =
    L"If an opened program is associated with the process it will be closed and you lose any unsaved data.";

}  // namespace

CProcMgrDlg::CProcMgrDlg(SPageSite& site, QWidget* pParent)
    : CProcMgrDlg(site.m_messageBox, DefaultProcessesDatabase(), pParent) {}

CProcMgrDlg::CProcMgrDlg(IMessageBox& box, const std::string& strDatabase, QWidget* pParent)
    : QWidget(pParent), m_box(box), m_collector(strDatabase) {
    m_sorted.setSourceModel(&m_model);
    m_sorted.setSortRole(CProcessModel::kSortRole);
    m_sorted.setDynamicSortFilter(true);

    m_pView = new QTableView(this);
    m_pView->setModel(&m_sorted);
    m_pView->setSortingEnabled(true);
    m_pView->sortByColumn(CProcessModel::Pid, Qt::AscendingOrder);
    m_pView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pView->verticalHeader()->hide();
    // One line a row, as many rows as fit: long names are elided, the tooltip has them whole.
    m_pView->setWordWrap(false);
    m_pView->verticalHeader()->setDefaultSectionSize(m_pView->fontMetrics().height() + 6);
    m_pView->horizontalHeader()->setStretchLastSection(true);
    static constexpr std::pair<int, int> s_aWidths[] = {
        {CProcessModel::Status, 28},  {CProcessModel::Pid, 64},          {CProcessModel::Name, 150},
        {CProcessModel::Cpu, 84},     {CProcessModel::Memory, 108},      {CProcessModel::Description, 170},
        {CProcessModel::Signer, 140}, {CProcessModel::Path, 260}};
    for (const auto& [nColumn, nWidth] : s_aWidths) {
        m_pView->setColumnWidth(nColumn, nWidth);
    }

    m_pNotice = new QLabel(this);
    m_pNotice->setWordWrap(true);
    // The reputation list cannot change while the program runs: saying it once is enough.
    m_pNotice->setText(QString::fromStdWString(m_collector.DatabaseError()));
    m_pNotice->setVisible(!m_collector.DatabaseError().empty());

    auto* pNote = new QLabel(
        tr("Signers are read from each file's signature, which is checked against the file; there is no "
           "store of trusted root certificates here, so the certificate chain is not checked. Only your own "
           "processes can be ended without administrator rights."),
        this);
    pNote->setWordWrap(true);

    m_pEnd = new QPushButton(tr("End Process"), this);
    m_pEnd->setEnabled(false);
    connect(m_pEnd, &QPushButton::clicked, this, &CProcMgrDlg::EndSelected);
    connect(m_pView->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CProcMgrDlg::SelectionChanged);

    auto* pButtons = new QHBoxLayout;
    pButtons->addWidget(pNote, 1);
    pButtons->addWidget(m_pEnd);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pNotice);
    pLayout->addWidget(m_pView, 1);
    pLayout->addLayout(pButtons);

    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &CProcMgrDlg::Refresh);
}

// Sampling costs processor time; a hidden page takes none.
void CProcMgrDlg::showEvent(QShowEvent* pEvent) {
    QWidget::showEvent(pEvent);
    Refresh();
    m_timer.start();
}

void CProcMgrDlg::hideEvent(QHideEvent* pEvent) {
    m_timer.stop();
    QWidget::hideEvent(pEvent);
}

void CProcMgrDlg::Refresh() {
    std::map<DWORD, CProcessInfo> map;
    // A sample that fails leaves the list as it was.
    if (m_collector.Sample(map)) {
        m_model.Update(map);
    }
    SelectionChanged();
}

const CProcessInfo* CProcMgrDlg::ProcessAt(int nViewRow) const {
    return m_model.Process(m_sorted.mapToSource(m_sorted.index(nViewRow, 0)).row());
}

void CProcMgrDlg::SelectionChanged() {
    m_pEnd->setEnabled(m_pView->selectionModel()->hasSelection());
}

void CProcMgrDlg::EndSelected() {
    const QModelIndexList rows = m_pView->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return;
    }
    // The list refreshes while the question is open: the process is the one chosen before it.
    const CProcessInfo* pProcess = ProcessAt(rows.first().row());
    if (pProcess == nullptr) {
        return;
    }
    const CProcessInfo process = *pProcess;
    if (m_box.Show(kWarning, L"Corvane", MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        return;
    }
    const std::wstring strError = EndProcess(process);
    if (!strError.empty()) {
        // It is still running (another user's) or already gone: the next refresh settles its row.
        m_box.Show(strError, L"Corvane", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_model.Remove(process.m_dwProcessId);
    m_pEnd->setEnabled(false);
}

}  // namespace Branwick::Wnd
