// The scan page: the start page, and while a scan runs (and after it, until Back or Next) the
// scan's progress page.
#pragma once

#include <QStackedWidget>
#include <QWidget>

#include <memory>

#include "ui/Bus/WindowObserver.h"
#include "ui/ProgressPage/ProgressPage.h"
#include "ui/ScanPage/ScanStart.h"

namespace Branwick::Wnd {

class CScanTabDlg : public QWidget {
    Q_OBJECT
public:
    CScanTabDlg(SPageSite& site, QWidget* pParent = nullptr);
    ~CScanTabDlg() override;

    CScanStart* Start() const { return m_pStart; }
    CScanFixProgressDlg* Progress() const { return m_pProgress; }
    void ShowStart();
    bool IsStartShown() const { return m_pStack->currentWidget() == m_pStart; }

private:
    QStackedWidget* m_pStack;
    CScanStart* m_pStart;
    CScanFixProgressDlg* m_pProgress;
    std::unique_ptr<CWindowObserver> m_pObserver;
};

}  // namespace Branwick::Wnd
