// The results page: the results of the last scan (categories, findings with their check boxes
// and "Ignore" links, Fix and Rescan) and, while a fix runs, the fix's progress page.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeView>
#include <QWidget>

#include <memory>

#include "ui/Bus/WindowObserver.h"
#include "ui/Pages/PageSite.h"
#include "ui/ProgressPage/ProgressPage.h"
#include "ui/ResultsPage/RecordModel.h"

namespace Branwick::Wnd {

class CResultsDlg : public QWidget {
    Q_OBJECT
public:
    CResultsDlg(SPageSite& site, QWidget* pParent = nullptr);

    // Shows what the last scan collected: "%i Issues Found!", the categories of the last scan in
    // bit order (the first selected) and the findings of the selected one.
    void Fill();
    // Lets go of the collection's findings (a scan or a fix is about to change it).
    void Clear();
    // The title after a fix.
    void ShowFixed(int nFixed);
    // The title at start-up, from the stored counts of the last scan.
    void ShowDetected();
    // Ignores the finding of that row of the list: it goes to the ignore list and off the list.
    void IgnoreRow(int nRow);
    // The categories' rows; a category's findings.
    void SelectCategory(int nRow);

    QString Title() const { return m_pTitle->text(); }
    QListWidget* Categories() const { return m_pCategories; }
    CRecordModel* Records() const { return m_pModel; }
    QTreeView* RecordView() const { return m_pView; }
    QPushButton* FixButton() const { return m_pFix; }
    QPushButton* RescanButton() const { return m_pRescan; }

signals:
    void Fix();
    void Rescan();

private:
    void MarkAll(bool bMark);
    int CollectedCount() const;

    SPageSite& m_site;
    QLabel* m_pTitle;
    QListWidget* m_pCategories;
    QTreeView* m_pView;
    CRecordModel* m_pModel;
    CRecordDelegate* m_pDelegate;
    QPushButton* m_pFix;
    QPushButton* m_pRescan;
};

class CResultsTab : public QWidget {
    Q_OBJECT
public:
    CResultsTab(SPageSite& site, QWidget* pParent = nullptr);
    ~CResultsTab() override;

    CResultsDlg* Results() const { return m_pResults; }
    CScanFixProgressDlg* Progress() const { return m_pProgress; }

private:
    void Handle(const CMessage& message);

    QStackedWidget* m_pStack;
    CResultsDlg* m_pResults;
    CScanFixProgressDlg* m_pProgress;
    std::unique_ptr<CWindowObserver> m_pObserver;
};

}  // namespace Branwick::Wnd
