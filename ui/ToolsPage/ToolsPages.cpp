// The pages of the Tools page, in the order of their buttons.
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

const std::vector<SPageEntry>& ToolsPages() {
    static const std::vector<SPageEntry> kPages = {
    };
    return kPages;
}

}  // namespace Branwick::Wnd
