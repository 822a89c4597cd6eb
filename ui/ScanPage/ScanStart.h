// The scan start page: the twelve categories bound to the settings, and the button that starts a scan of the checked ones.
#pragma once

#include <QCheckBox>
#include <QPushButton>
#include <QWidget>

#include "ui/Pages/CategoryBoxes.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CScanStart : public QWidget {
    Q_OBJECT
public:
    CScanStart(SPageSite& site, QWidget* pParent = nullptr);

    // The start button: with no category chosen, says so and starts nothing; otherwise asks
    // for a scan of the settings' categories.
    void PressStart();
    QCheckBox* CategoryBox(int nIndex) const { return m_pCategories->Box(nIndex); }
    QPushButton* StartButton() const { return m_pStart; }

signals:
    void StartScan(DWORD dwCategories);

private:
    SPageSite& m_site;
    CCategoryBoxes* m_pCategories;
    QPushButton* m_pStart;
};

}  // namespace Branwick::Wnd
