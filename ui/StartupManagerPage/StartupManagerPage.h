// The startup manager page: the programs the target starts at logon, with a check box each, and
// the disable, enable and delete buttons for the checked ones. The page only shows and calls the
// startup manager of tools/startup.
#pragma once

#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include <vector>

#include "tools/startup/StartupManager.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CToolsDlg : public QWidget {
    Q_OBJECT
public:
    enum EColumn { ColumnName, ColumnPath, ColumnState, ColumnLocation };

    CToolsDlg(SPageSite& site, QWidget* pParent = nullptr);

    QTreeWidget* List() const { return m_pList; }
    QPushButton* DisableButton() const { return m_pDisable; }
    QPushButton* EnableButton() const { return m_pEnable; }
    QPushButton* DeleteButton() const { return m_pDelete; }

    // Reads the entries again; every check box starts cleared.
    void Fill();
    void DisableChecked();
    void EnableChecked();
    void DeleteChecked();

private:
    // Runs the change on every checked row that qualifies, then shows the list as it now is and
    // says in one box what could not be done.
    void ChangeChecked(bool bEnable, bool bRemove);
    void UpdateButtons();

    SPageSite& m_site;
    CStartupManager m_manager;
    std::vector<CStartupItem> m_vcItems;  // row i shows m_vcItems[i]
    QTreeWidget* m_pList;
    QPushButton* m_pDisable;
    QPushButton* m_pEnable;
    QPushButton* m_pDelete;
};

}  // namespace Branwick::Wnd
