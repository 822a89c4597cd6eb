// The tray icon of the main window and its menu. Not every desktop has a tray: the icon is
// tried again from a timer (never by sleeping on the interface thread), and the window asks
// HasIcon() to know whether hiding it leaves the user a way back.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

#include "core/MessageManager.h"

namespace Branwick::Wnd {

class CTray : public QObject {
    Q_OBJECT
public:
    static constexpr int kAttempts = 8;
    static constexpr int kRetryMs = 5000;

    // bScanRunning tells whether a scan (or a fix) runs, for graying the menu. Tries to add the
    // icon at once and, while it cannot, up to kAttempts times in all, kRetryMs apart.
    CTray(const QIcon& icon, CMessageManager& messages, std::function<bool()> bScanRunning,
          int nRetryMs = kRetryMs, QObject* pParent = nullptr);

    bool HasIcon() const { return m_icon.isVisible(); }
    // The tip of the icon ("Corvane").
    void SetTip(const QString& strTip) { m_icon.setToolTip(strTip); }
    QMenu& Menu() { return m_menu; }
    int Attempts() const { return m_nAttempts; }

signals:
    // A menu command or a click: the window command id (kCmdOpen ... kCmdExit).
    void Command(int nCommand);
    // Every attempt failed: the program goes on without a tray.
    void GaveUp();

private:
    void TryAdd();
    void UpdateMenu();

    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QAction* m_pStartScan;
    QAction* m_pShowLastScan;
    QTimer m_retry;
    CMessageManager& m_messages;
    std::function<bool()> m_bScanRunning;
    int m_nAttempts = 0;
};

}  // namespace Branwick::Wnd
