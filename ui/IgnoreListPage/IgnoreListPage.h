// The ignore list page of the settings tab: the entries of the ignore list by category, read
// again whenever the page becomes visible, and taking entries off the list (saved at once), so
// that the next scan reports them again.
#pragma once

#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CIgnoreListDlg : public QWidget {
    Q_OBJECT
public:
    enum EColumn { ColumnPath = 0, ColumnData };

    CIgnoreListDlg(SPageSite& site, QWidget* pParent = nullptr);

    QTreeWidget* List() const { return m_pList; }
    QPushButton* RemoveButton() const { return m_pRemove; }
    // Reads the list again.
    void Fill();
    // Takes the selected entries (or every entry of a selected category) off the list and saves it.
    void RemoveSelected();

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    SPageSite& m_site;
    QTreeWidget* m_pList;
    QPushButton* m_pRemove;
};

}  // namespace Branwick::Wnd
