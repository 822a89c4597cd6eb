// The pages of the Settings page, in the order of their buttons.
#include "ui/BackupsPage/BackupsPage.h"
#include "ui/FormatServicePage/FormatServicePage.h"
#include "ui/IgnoreListPage/IgnoreListPage.h"
#include "ui/OptionsPage/OptionsPage.h"
#include "ui/Pages/PageSite.h"
#include "ui/SchedulePage/ScheduleDlg.h"

namespace Branwick::Wnd {

const std::vector<SPageEntry>& SettingsPages() {
    static const std::vector<SPageEntry> kPages = {
        {"Options", MakePage<COptionsDlg>},
        {"Ignore List", MakePage<CIgnoreListDlg>},
        {"Backups", MakePage<CBackupsDlg>},
        {"Schedule", MakePage<CScheduleDlg>},
        {"File Format Service", MakePage<CFormatServicePage>},
    };
    return kPages;
}

}  // namespace Branwick::Wnd
