// The progress page of a scan or of a fix (one class, two modes): a row per category with its
// progress and count, the overall bar, the item being worked on, the total, and Cancel (with
// Back and Next in scan mode). It follows the bus by itself once constructed.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <memory>

#include "ui/Bus/WindowObserver.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

// An item text as the page shows it: longer than 80 characters, its first 5, "..." and its
// last 72.
QString ShortenItem(const QString& strItem);

class CScanFixProgressDlg : public QWidget {
    Q_OBJECT
public:
    enum class EMode { Scan, Fix };

    CScanFixProgressDlg(SPageSite& site, EMode eMode, QWidget* pParent = nullptr);
    ~CScanFixProgressDlg() override;

    EMode Mode() const { return m_eMode; }
    bool IsCancelled() const { return m_bCancelled; }

    // For tests and the screenshots: what the page shows.
    QString Title() const { return m_pTitle->text(); }
    QString Status() const { return m_pStatus->text(); }
    QString Total() const { return m_pTotal->text(); }
    QString CurrentItem() const { return m_pItem->text(); }
    int Progress() const { return m_pBar->value(); }
    int RowProgress(int nIndex) const { return m_rows.at(static_cast<std::size_t>(nIndex)).pBar->value(); }
    QString RowCount(int nIndex) const { return m_rows.at(static_cast<std::size_t>(nIndex)).pCount->text(); }
    QPushButton* CancelButton() const { return m_pCancel; }
    QPushButton* BackButton() const { return m_pBack; }
    QPushButton* NextButton() const { return m_pNext; }

signals:
    // Scan mode: the buttons. The window goes back to the start page or on to the results.
    void Back();
    void Next();

private:
    struct SRow {
        QLabel* pName = nullptr;
        QProgressBar* pBar = nullptr;
        QLabel* pCount = nullptr;
    };

    void Handle(const CMessage& message);
    void OnStart();
    void OnProgress(const CProgressMessage& progress);
    void OnFinish();
    void Cancel();
    SRow* RowOf(std::int32_t nScanType);
    void SetTotal(int nCount);

    SPageSite& m_site;
    EMode m_eMode;
    bool m_bCancelled = false;
    std::array<SRow, 12> m_rows{};
    QLabel* m_pTitle;
    QLabel* m_pSubtitle;
    QLabel* m_pStatus;
    QLabel* m_pItemLabel;
    QLabel* m_pItem;
    QLabel* m_pTotal;
    QProgressBar* m_pBar;
    QPushButton* m_pCancel;
    QPushButton* m_pBack = nullptr;
    QPushButton* m_pNext = nullptr;
    std::unique_ptr<CWindowObserver> m_pObserver;
};

}  // namespace Branwick::Wnd
