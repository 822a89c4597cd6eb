#include "ui/Pages/CategoryBoxes.h"

#include <QGridLayout>
#include <QSignalBlocker>

namespace Branwick::Wnd {

CCategoryBoxes::CCategoryBoxes(CSettings& settings, QWidget* pParent) : QWidget(pParent), m_settings(settings) {
    auto* pGrid = new QGridLayout(this);
    pGrid->setContentsMargins(0, 0, 0, 0);
    const auto& types = ScanTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        const DWORD dwBit = static_cast<DWORD>(types[i].nBit);
        auto* pBox = new QCheckBox(QString::fromWCharArray(types[i].pszDisplayName), this);
        connect(pBox, &QCheckBox::toggled, this, [this, dwBit](bool bOn) {
            if (bOn) {
                m_settings.AddScanFlags(dwBit);
            } else {
                m_settings.RemoveScanFlags(dwBit);
            }
        });
        pGrid->addWidget(pBox, static_cast<int>(i % 6), static_cast<int>(i / 6));
        m_boxes[i] = pBox;
    }
    Refresh();
}

void CCategoryBoxes::Refresh() {
    const auto& types = ScanTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        const QSignalBlocker blocker(m_boxes[i]);
        m_boxes[i]->setChecked((m_settings.GetScanFlags() & static_cast<DWORD>(types[i].nBit)) != 0);
    }
}

void CCategoryBoxes::showEvent(QShowEvent* pEvent) {
    Refresh();
    QWidget::showEvent(pEvent);
}

}  // namespace Branwick::Wnd
