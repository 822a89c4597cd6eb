// The File Format Help page and the settings page of its service, against the program's own
// service reading a small data folder of the test's making.
#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "tests/support/format_data.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_folder.h"
#include "ui/FileFormatHelpPage/FormatsHelpDlg.h"
#include "ui/FormatServicePage/FormatServicePage.h"
#include "ui/MainWindow/MainWindow.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;

class FormatHelpTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;
    CorvaneTest::CTempFolder m_data;

private slots:
    void initTestCase() {
        CorvaneTest::WriteFormatData(m_data.Path());
        qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(m_data.Path().string()));
    }

    void EnterShowsEachTypeWithPictureAndLinks() {
        CorvaneTest::CDemoCore core;
        // The core may have said something of its own already (no scheduler on a test machine).
        const std::size_t nBoxes = core.Box().GetShown().size();
        CFormatsHelpDlg page(core.Site());
        page.Edit()->setText("doc");
        QTest::keyClick(page.Edit(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(page.Results()->rowCount(), 1, 10000);
        QVERIFY(page.SearchButton()->isEnabled());
        const QTableWidgetItem* pType = page.Results()->item(0, 0);
        QCOMPARE(pType->text(), QString("File type: Word document\nDeveloper: Microsoft"));
        QCOMPARE(pType->icon().availableSizes().value(0), QSize(48, 48));
        QCOMPARE(page.Results()->item(0, 1)->text(),
                 QString("Media type application/msword, a kind of OLE2 compound document storage. "
                         "Extensions: .DOC, .DOT."));
        const auto* pApps = qobject_cast<QLabel*>(page.Results()->cellWidget(0, 2));
        QVERIFY(pApps != nullptr);
        // The application without a home page is named, not linked.
        QCOMPARE(pApps->text(),
                 QString("Image Viewer<br><a href=\"https://writer.example.org/\">Writer</a>"));
        QCOMPARE(core.Box().GetShown().size(), nBoxes);
    }

    void UnknownExtensionSaysNotFound() {
        CorvaneTest::CDemoCore core;
        const std::size_t nBoxes = core.Box().GetShown().size();
        CFormatsHelpDlg page(core.Site());
        page.Edit()->setText("qqq");
        QTest::mouseClick(page.SearchButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(core.Box().GetShown().size(), nBoxes + 1, 10000);
        QCOMPARE(core.Box().GetShown().back().strText, std::wstring(L"Information about this file format is not found."));
        QCOMPARE(core.Box().GetShown().back().strCaption, std::wstring(L"Corvane"));
        QCOMPARE(page.Results()->rowCount(), 0);
    }

    void ClosingThePageMidLookUpGivesTheCursorBack() {
        CorvaneTest::CDemoCore core;
        const CorvaneTest::CRawListener silent(false);  // takes the request, never answers
        core.Site().m_settings.SetFormatService(L"http://127.0.0.1:" + std::to_wstring(silent.Port()));
        auto pPage = std::make_unique<CFormatsHelpDlg>(core.Site());
        pPage->Edit()->setText("doc");
        pPage->Search();
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QVERIFY(!pPage->SearchButton()->isEnabled());
        pPage.reset();
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        core.Site().m_settings.SetFormatService(L"");
    }

    void ServiceAddressIsCheckedBeforeItIsSaved() {
        CorvaneTest::CDemoCore core;
        const std::size_t nBoxes = core.Box().GetShown().size();
        CFormatServicePage page(core.Site());
        QCOMPARE(page.Address()->text(), QString());
        page.Address()->setText("ftp://formats.example.org");
        page.Apply();
        QCOMPARE(core.Box().GetShown().size(), nBoxes + 1);
        QCOMPARE(core.Site().m_settings.GetFormatService(), std::wstring());
        QCOMPARE(page.Address()->text(), QString());
        page.Address()->setText(" http://formats.example.org:8080 ");
        page.Apply();
        QCOMPARE(core.Site().m_settings.GetFormatService(), std::wstring(L"http://formats.example.org:8080"));
    }

    void PagesSitInTheirContainers() {
        CorvaneTest::CDemoCore core;
        CCorvanesDlg window(core.Site(), core.Session(), false);
        bool bHelp = false;
        for (int i = 0; i < window.ToolsTab()->PageCount(); ++i) {
            window.ToolsTab()->ShowPage(i);
            bHelp = bHelp || qobject_cast<CFormatsHelpDlg*>(window.ToolsTab()->CurrentPage()) != nullptr;
        }
        QVERIFY(bHelp);
        bool bService = false;
        for (int i = 0; i < window.SettingsTab()->PageCount(); ++i) {
            window.SettingsTab()->ShowPage(i);
            bService = bService || qobject_cast<CFormatServicePage*>(window.SettingsTab()->CurrentPage()) != nullptr;
        }
        QVERIFY(bService);
    }
};

QTEST_MAIN(FormatHelpTest)
#include "formathelp_test.moc"
