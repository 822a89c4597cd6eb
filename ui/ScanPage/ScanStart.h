// The scan start page: the twelve categories, each a check box bound to the settings (a toggle
// is saved at once), and the button that starts a scan of the checked ones.
#pragma once

#include <QCheckBox>
#include <QPushButton>
#include <QWidget>

#include <array>

#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CScanStart : public QWidget {
    Q_OBJECT
public:
    CScanStart(SPageSite& site, QWidget* pParent = nullptr);

    // The start button: with no category chosen, says so and starts nothing; otherwise asks
    // for a scan of the settings' categories.
    void PressStart();
    QCheckBox* CategoryBox(int nIndex) const { return m_boxes.at(static_cast<std::size_t>(nIndex)); }
    QPushButton* StartButton() const { return m_pStart; }

signals:
    void StartScan(DWORD dwCategories);

private:
    SPageSite& m_site;
    std::array<QCheckBox*, 12> m_boxes{};
    QPushButton* m_pStart;
};

}  // namespace Branwick::Wnd
