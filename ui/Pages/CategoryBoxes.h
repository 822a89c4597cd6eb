// The twelve scan categories as check boxes bound to the settings: a toggle is saved at once,
// and the boxes show the settings again whenever they become visible, so that two pages that
// show them never disagree.
#pragma once

#include <QCheckBox>
#include <QWidget>

#include <array>

#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CCategoryBoxes : public QWidget {
    Q_OBJECT
public:
    CCategoryBoxes(CSettings& settings, QWidget* pParent = nullptr);

    // In the order of the category bits, from 0x1.
    QCheckBox* Box(int nIndex) const { return m_boxes.at(static_cast<std::size_t>(nIndex)); }
    // Shows the categories of the settings.
    void Refresh();

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    CSettings& m_settings;
    std::array<QCheckBox*, 12> m_boxes{};
};

}  // namespace Branwick::Wnd
