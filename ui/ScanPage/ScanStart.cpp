#include "ui/ScanPage/ScanStart.h"

#include <QLabel>
#include <QVBoxLayout>

namespace Branwick::Wnd {

CScanStart::CScanStart(SPageSite& site, QWidget* pParent) : QWidget(pParent), m_site(site) {
    auto* pLayout = new QVBoxLayout(this);
    auto* pTitle = new QLabel(tr("Scan the registry and files for problems"), this);
    pTitle->setObjectName("pageTitle");
    pLayout->addWidget(pTitle);
    pLayout->addWidget(new QLabel(tr("Choose what to look for:"), this));
    m_pCategories = new CCategoryBoxes(m_site.m_settings, this);
    pLayout->addWidget(m_pCategories);
    pLayout->addStretch(1);
    m_pStart = new QPushButton(tr("St&art Scan"), this);
    m_pStart->setObjectName("primaryButton");
    m_pStart->setDefault(true);
    auto* pRow = new QHBoxLayout;
    pRow->addStretch(1);
    pRow->addWidget(m_pStart);
    pLayout->addLayout(pRow);
    connect(m_pStart, &QPushButton::clicked, this, &CScanStart::PressStart);
}

void CScanStart::PressStart() {
    const DWORD dwFlags = m_site.m_settings.GetScanFlags() & 0xFFF;
    if (dwFlags == 0) {
        m_site.m_messageBox.Show(L"Please select items for scanning.", L"Corvane", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    emit StartScan(dwFlags);
}

}  // namespace Branwick::Wnd
