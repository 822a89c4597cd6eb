// The history cleaner page: which browser and Windows traces to erase (saved in the settings at
// every toggle), and the clean command with its progress and results dialogs.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

#include "core/HistoryItems.h"
#include "core/Messages.h"
#include "ui/Bus/WindowObserver.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

// "Internet Explorer History", "FireFox Downloads History", ...: the area and the item's caption;
// empty for a bit that is no history item.
QString HistoryCategoryText(std::int32_t nBit);
// "Succesfully cleared", "Reboot required", "Not cleared", or empty for a code of no meaning.
QString HistoryStatusText(std::int32_t nResult);
// What the item touches in this target when its caption does not say it; empty when it does.
QString HistoryItemNote(DWORD dwBit, Platform::ETargetKind eKind);

// The modal dialog while the engine cleans: a caption and a bar that follows the engine's
// progress; it closes itself with result 1 when the engine says it has finished.
class CProgressDialog : public QDialog {
    Q_OBJECT
public:
    CProgressDialog(const QString& strCaption, QWidget* pParent);
    void Progress(const CGenProgressMessage& progress);
    QProgressBar* Bar() const { return m_pBar; }
    // The engine cannot be stopped half-way: Escape must not hide a cleaning that goes on.
    void reject() override {}

private:
    QProgressBar* m_pBar;
};

// The modal dialog after a clean: one row per erased entity, in the order the engine reported.
class CHistoryCleanResultsDlg : public QDialog {
    Q_OBJECT
public:
    CHistoryCleanResultsDlg(const std::vector<CHistoryCleanerMessage>& vcResults, QWidget* pParent);
    QTableWidget* Table() const { return m_pTable; }

protected:
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    QTableWidget* m_pTable;
};

class CHistoryCleanerDlg : public QWidget {
    Q_OBJECT
public:
    CHistoryCleanerDlg(SPageSite& site, QWidget* pParent = nullptr);

    QCheckBox* Item(DWORD dwBit) const { return m_mapItems.at(dwBit); }
    QPushButton* CleanButton() const { return m_pClean; }

    // The clean command: checks the selection, asks, starts the cleaning, shows the progress
    // dialog until the engine finishes, then the results.
    void Clean();

private:
    void Toggle(DWORD dwBit, bool bOn);

    SPageSite& m_site;
    std::map<DWORD, QCheckBox*> m_mapItems;
    QPushButton* m_pClean;
};

}  // namespace Branwick::Wnd
