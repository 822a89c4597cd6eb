// The program's start and end: the command line, the one instance per user, the bus and the
// threads, the target, the first-run flag, the main window and the order in which they come up
// and go down.
#pragma once

#include <QSettings>

#include <memory>
#include <optional>

#include "app/ThreadManager.h"
#include "core/Log.h"
#include "core/MessageManager.h"
#include "ui/App/CommandLine.h"
#include "ui/App/SingleInstance.h"
#include "ui/App/TargetCore.h"
#include "ui/Bus/QtMessageBox.h"

namespace Branwick::Wnd {

class CCorvanesDlg;

// The whole program; returns its exit status. Needs the QApplication made by the caller.
int RunCorvane(const std::vector<std::string>& vcArgs);

// Opens the target the command line names, else the last one used, else $WINEPREFIX or ~/.wine,
// else the one the user chooses. The choice is remembered in settings (not a demo). Null when
// the user gave up; a target the command line names but that cannot be opened is said in a box
// before the chooser opens.
std::unique_ptr<Platform::CTarget> ChooseTarget(const SCommandLine& line, const std::string& strDemoFolder,
                                                QSettings& settings, IMessageBox& box);

class CCorvanesApp {
public:
    CCorvanesApp();
    ~CCorvanesApp();
    CCorvanesApp(const CCorvanesApp&) = delete;
    CCorvanesApp& operator=(const CCorvanesApp&) = delete;

    // Runs the instance: log, runner, target, first run, window, until Exit. Returns the exit
    // status; bChangeTarget tells the caller that the user chose to open another target.
    int Run(const SCommandLine& line, CSingleInstance& instance, bool& bChangeTarget);

    CMessageManager& Messages() { return m_messages; }
    CQtMessageBox& MessageBox() { return m_messageBox; }

private:
    void Shutdown();

    CMessageManager m_messages;
    CThreadManager m_threads;
    CLogger m_logger;
    CQtMessageBox m_messageBox;
    IMessageBox* m_pPreviousBox = nullptr;
    bool m_bLogOpen = false;
};

}  // namespace Branwick::Wnd
