// The process manager page of the Tools page: the running processes once a second while the page
// is shown, each with its CPU share, memory, description, signer and path, marked when its file
// name is listed as unwanted or malicious, and the end of a chosen process after a warning.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <string>

#include "core/MessageBox.h"
#include "tools/ProcessManager/ProcessManager.h"
#include "ui/Pages/PageSite.h"
#include "ui/ProcessManagerPage/ProcessModel.h"

namespace Branwick::Wnd {

class CProcMgrDlg : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 1000;

    CProcMgrDlg(SPageSite& site, QWidget* pParent = nullptr);
    // The page over the reputation database strDatabase, asking through box.
    CProcMgrDlg(IMessageBox& box, const std::string& strDatabase, QWidget* pParent = nullptr);

    // One refresh, as each tick of the timer makes it.
    void Refresh();
    // Asks, then ends the selected process (button "End Process").
    void EndSelected();

    QTableView* View() const { return m_pView; }
    QPushButton* EndButton() const { return m_pEnd; }
    QLabel* Notice() const { return m_pNotice; }
    const QTimer& Timer() const { return m_timer; }
    // The process of a row of the view, as sorted; null for none.
    const CProcessInfo* ProcessAt(int nViewRow) const;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    void SelectionChanged();

    IMessageBox& m_box;
    CProcessCollector m_collector;
    CProcessModel m_model;
    QSortFilterProxyModel m_sorted;
    QTableView* m_pView;
    QPushButton* m_pEnd;
    QLabel* m_pNotice;
    QTimer m_timer;
};

}  // namespace Branwick::Wnd
