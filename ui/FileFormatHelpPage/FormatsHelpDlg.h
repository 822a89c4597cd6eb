// The File Format Help page of the Tools page: the user types an extension and gets, from the
// file format service, each file type that uses it with its picture, developer, description and
// the applications that open it, each a link to its home page.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

#include <memory>
#include <vector>

#include "tools/FileFormatHelp/FileFormatHelp.h"
#include "tools/FileFormatHelp/FormatServiceEndpoint.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CFormatsHelpDlg : public QWidget {
    Q_OBJECT
public:
    CFormatsHelpDlg(SPageSite& site, QWidget* pParent = nullptr);
    ~CFormatsHelpDlg() override;

    QLineEdit* Edit() const { return m_pEdit; }
    QPushButton* SearchButton() const { return m_pSearch; }
    QTableWidget* Results() const { return m_pResults; }

    // Starts a look-up of the edit box's text; nothing while one runs.
    void Search();

private:
    void ShowRecords(const std::vector<CFormatInfo>& vRecords);
    void EndWaiting();
    void FillRow(int nRow, const CFormatInfo& info);
    CFileFormatLookup* Lookup();  // for the settings' service as they are now

    SPageSite& m_site;
    QLineEdit* m_pEdit;
    QPushButton* m_pSearch;
    QTableWidget* m_pResults;
    bool m_bWaiting = false;  // the wait cursor is ours to restore
    std::wstring m_strServiceSetting;
    std::unique_ptr<CFormatServiceEndpoint> m_pEndpoint;
    std::unique_ptr<CFileFormatLookup> m_pLookup;  // after the endpoint: ends before it
};

}  // namespace Branwick::Wnd
