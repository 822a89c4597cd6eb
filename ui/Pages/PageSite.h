// What every page of the main window works with, and how a page joins one of the containers
// (the Tools and Settings pages). A page talks to the application core through the site, never
// to the engine or to another page.
#pragma once

#include <QWidget>

#include <vector>

#include "app/BackUp/BackUp.h"
#include "app/ScanManager.h"
#include "app/Settings/Settings.h"
#include "app/ThreadManager.h"
#include "core/MessageBox.h"
#include "core/MessageManager.h"
#include "platform/target/target.h"

namespace Branwick::Wnd {

// The application core of the open target. Everything outlives the pages; every page is made,
// used and destroyed on the interface thread. Bus messages reach a page on the runner thread:
// a page observes them through a CWindowObserver (ui/Bus), which hands them to its thread.
struct SPageSite {
    CMessageManager& m_messages;
    CThreadManager& m_threads;
    const Platform::CTarget& m_target;
    CSettings& m_settings;
    CScanManager& m_scanManager;
    CBackUpManager& m_backUpManager;
    IMessageBox& m_messageBox;
};

using PageFactory = QWidget* (*)(SPageSite& site, QWidget* pParent);

// One page of a container: the text of its button and what makes it.
struct SPageEntry {
    const char* pszTitle;
    PageFactory pfnMake;
};

// The factory of a page class whose constructor is TPage(SPageSite&, QWidget* pParent).
template <class TPage>
QWidget* MakePage(SPageSite& site, QWidget* pParent) {
    return new TPage(site, pParent);
}

// The pages of the Tools and of the Settings page, in the order of their buttons. Each list is
// one table in its folder (ui/ToolsPage/ToolsPages.cpp, ui/SettingsPage/SettingsPages.cpp):
// adding a page is one line there, e.g. {"Processes", MakePage<CProcessPage>}.
const std::vector<SPageEntry>& ToolsPages();
const std::vector<SPageEntry>& SettingsPages();

}  // namespace Branwick::Wnd
