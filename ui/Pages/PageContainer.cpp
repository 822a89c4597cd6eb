#include "ui/Pages/PageContainer.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace Branwick::Wnd {

CPageContainer::CPageContainer(SPageSite& site, const std::vector<SPageEntry>& pages,
                               const QString& strEmpty, QWidget* pParent)
    : QWidget(pParent), m_pStack(new QStackedWidget(this)) {
    auto* pLayout = new QVBoxLayout(this);
    auto* pRow = new QHBoxLayout;
    pLayout->addLayout(pRow);
    pLayout->addWidget(m_pStack, 1);
    for (const SPageEntry& entry : pages) {
        auto* pButton = new QPushButton(tr(entry.pszTitle), this);
        pButton->setCheckable(true);
        pButton->setObjectName("subPageButton");
        m_buttons.addButton(pButton, m_pStack->count());
        pRow->addWidget(pButton);
        m_pStack->addWidget(entry.pfnMake(site, m_pStack));
    }
    pRow->addStretch(1);
    if (pages.empty()) {
        auto* pLabel = new QLabel(strEmpty, m_pStack);
        pLabel->setAlignment(Qt::AlignCenter);
        pLabel->setWordWrap(true);
        m_pStack->addWidget(pLabel);
    }
    connect(&m_buttons, &QButtonGroup::idClicked, this, &CPageContainer::ShowPage);
    ShowPage(0);
}

void CPageContainer::ShowPage(int nIndex) {
    if (QAbstractButton* pButton = m_buttons.button(nIndex)) {
        pButton->setChecked(true);
        m_pStack->setCurrentIndex(nIndex);
    }
}

}  // namespace Branwick::Wnd
