#include "ui/FormatServicePage/FormatServicePage.h"

#include <QLabel>
#include <QVBoxLayout>

#include "tools/FileFormatHelp/FileFormatHelp.h"

namespace Branwick::Wnd {

CFormatServicePage::CFormatServicePage(SPageSite& site, QWidget* pParent)
    : QWidget(pParent), m_site(site) {
    auto* pLabel = new QLabel(
        tr("Address of a shared file format service, such as http://formats.example.org:8080.\n"
           "Leave it empty to let this computer answer from its own MIME database and applications."),
        this);
    pLabel->setWordWrap(true);
    m_pAddress = new QLineEdit(QString::fromStdWString(site.m_settings.GetFormatService()), this);
    m_pAddress->setObjectName("service");
    m_pAddress->setPlaceholderText(tr("this computer"));
    auto* pApply = new QPushButton(tr("Apply"), this);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pLabel);
    pLayout->addWidget(m_pAddress);
    pLayout->addWidget(pApply, 0, Qt::AlignRight);
    pLayout->addStretch(1);
    connect(pApply, &QPushButton::clicked, this, &CFormatServicePage::Apply);
    connect(m_pAddress, &QLineEdit::returnPressed, this, &CFormatServicePage::Apply);
}

void CFormatServicePage::Apply() {
    const std::wstring strAddress = m_pAddress->text().trimmed().toStdWString();
    SServiceAddress address;
    if (!strAddress.empty() && !ParseServiceAddress(strAddress, address)) {
        m_site.m_messageBox.Show(L"\"" + strAddress + L"\" is not an address like http://HOST:PORT.",
                                 L"Corvane", MB_OK);
        m_pAddress->setText(QString::fromStdWString(m_site.m_settings.GetFormatService()));
        return;
    }
    m_site.m_settings.SetFormatService(strAddress);
}

}  // namespace Branwick::Wnd
