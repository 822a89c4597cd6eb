// A page that holds sub-pages: a row of buttons, one per sub-page, over the sub-page shown.
// The Tools and Settings pages are containers.
#pragma once

#include <QButtonGroup>
#include <QLabel>
#include <QStackedWidget>
#include <QWidget>

#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CPageContainer : public QWidget {
    Q_OBJECT
public:
    // Makes every page of the list at once; the first is shown. strEmpty is shown when the list
    // is empty.
    CPageContainer(SPageSite& site, const std::vector<SPageEntry>& pages, const QString& strEmpty,
                   QWidget* pParent = nullptr);

    int PageCount() const { return m_pStack->count(); }
    // Shows page nIndex and presses its button; nothing for an index out of range.
    void ShowPage(int nIndex);
    QWidget* CurrentPage() const { return m_pStack->currentWidget(); }

private:
    QButtonGroup m_buttons;
    QStackedWidget* m_pStack;
};

}  // namespace Branwick::Wnd
