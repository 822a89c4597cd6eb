// The pages of the Tools page, in the order of their buttons: history cleaner (shown first),
// startup manager, file format help, process manager.
#include "ui/FileFormatHelpPage/FormatsHelpDlg.h"
#include "ui/HistoryCleanerPage/HistoryCleanerPage.h"
#include "ui/Pages/PageSite.h"
#include "ui/ProcessManagerPage/ProcMgrDlg.h"
#include "ui/StartupManagerPage/StartupManagerPage.h"

namespace Branwick::Wnd {

const std::vector<SPageEntry>& ToolsPages() {
    static const std::vector<SPageEntry> kPages = {
        {"History Cleaner", MakePage<CHistoryCleanerDlg>},
        {"Startup Manager", MakePage<CToolsDlg>},
        {"File Format Help", MakePage<CFormatsHelpDlg>},
        {"Process Manager", MakePage<CProcMgrDlg>},
    };
    return kPages;
}

}  // namespace Branwick::Wnd
