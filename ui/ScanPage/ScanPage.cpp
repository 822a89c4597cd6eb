#include "ui/ScanPage/ScanPage.h"

#include <QVBoxLayout>

namespace Branwick::Wnd {

CScanTabDlg::CScanTabDlg(SPageSite& site, QWidget* pParent)
    : QWidget(pParent),
      m_pStack(new QStackedWidget(this)),
      m_pStart(new CScanStart(site, m_pStack)),
      m_pProgress(new CScanFixProgressDlg(site, CScanFixProgressDlg::EMode::Scan, m_pStack)) {
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addWidget(m_pStack);
    m_pStack->addWidget(m_pStart);
    m_pStack->addWidget(m_pProgress);
    m_pObserver = std::make_unique<CWindowObserver>(
        site.m_messages, this, std::initializer_list<std::int32_t>{CStartScanMessage::kType},
        [this](const CMessage&) { m_pStack->setCurrentWidget(m_pProgress); });
}

CScanTabDlg::~CScanTabDlg() = default;

void CScanTabDlg::ShowStart() { m_pStack->setCurrentWidget(m_pStart); }

}  // namespace Branwick::Wnd
