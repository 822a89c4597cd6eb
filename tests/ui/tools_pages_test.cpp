// The history cleaner page and the startup manager page on the demo prefix: what they save, what
// they refuse, and what the user sees after a clean or a change.
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "platform/demo/demo.h"
#include "ui/HistoryCleanerPage/HistoryCleanerPage.h"
#include "ui/StartupManagerPage/StartupManagerPage.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;

namespace {

// The host path of a Windows path of the demo, or empty for a key.
std::string HostOf(const Platform::CTarget& target, const std::wstring& strPath) {
    std::string strHost;
    return strPath.rfind(L"HKEY_", 0) == 0 || !target.Files().HostPath(strPath, strHost).Ok() ? "" : strHost;
}

// The row of the startup list that shows the name.
QTreeWidgetItem* Row(const CToolsDlg& page, const QString& strName) {
    const QList<QTreeWidgetItem*> found = page.List()->findItems(strName, Qt::MatchExactly, CToolsDlg::ColumnName);
    return found.size() == 1 ? found[0] : nullptr;
}

}  // namespace

class ToolsPagesTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;

private slots:
    void ResultTextsFollowTheItemsTable() {
        QCOMPARE(HistoryCategoryText(HC_IE_HISTORY), QString("Internet Explorer History"));
        QCOMPARE(HistoryCategoryText(HC_FIREFOX_DOWNLOADS), QString("FireFox Downloads History"));
        QCOMPARE(HistoryCategoryText(0x8000), QString());
        QCOMPARE(HistoryStatusText(0), QString("Succesfully cleared"));
        QCOMPARE(HistoryStatusText(1), QString("Reboot required"));
        QCOMPARE(HistoryStatusText(7), QString());
    }

    void TheSelectionIsSavedAtEveryToggleAndSurvivesARestart() {
        CorvaneTest::CDemoCore core;
        SPageSite& site = core.Site();
        {
            CHistoryCleanerDlg page(site);
            QVERIFY(page.Item(HC_IE_COOKIES)->isChecked());
            QTest::mouseClick(page.Item(HC_IE_COOKIES), Qt::LeftButton);
            QTest::mouseClick(page.Item(HC_WINDOWS_RECYCLE_BIN), Qt::LeftButton);
        }
        // The settings as the next start reads them from the file.
        CSettingsSite settingsSite;
        settingsSite.m_pTarget = &site.m_target;
        settingsSite.m_strDataFolder = GetDataFolder(site.m_target);
        CSettings reopened(settingsSite);
        QCOMPARE(reopened.GetHistoryFlags(), kAllHistoryItems & ~DWORD(HC_IE_COOKIES | HC_WINDOWS_RECYCLE_BIN));
        SPageSite restarted{site.m_messages, site.m_threads,    site.m_target,     reopened,
                            site.m_scanManager, site.m_backUpManager, site.m_messageBox};
        CHistoryCleanerDlg page(restarted);
        QVERIFY(!page.Item(HC_IE_COOKIES)->isChecked());
        QVERIFY(!page.Item(HC_WINDOWS_RECYCLE_BIN)->isChecked());
        QVERIFY(page.Item(HC_IE_HISTORY)->isChecked());
    }

    void NoSelectionOrNoConfirmationStartsNothing() {
        CorvaneTest::CDemoCore core;
        Platform::CDemoExpectations expected;
        std::wstring strError;
        QVERIFY(Platform::LoadDemoExpectations(core.Prefix().toStdString(), expected, strError));
        std::vector<std::string> vcTraces;
        for (const Platform::CDemoTrace& trace : expected.m_vcHistory) {
            if (const std::string strHost = HostOf(core.Site().m_target, trace.m_strPath); !strHost.empty()) {
                vcTraces.push_back(strHost);
            }
        }
        QVERIFY(!vcTraces.empty());

        CHistoryCleanerDlg page(core.Site());
        const std::size_t nBefore = core.Box().GetShown().size();  // boxes of the start-up
        core.Box().SetAnswer(IDNO);
        page.Clean();
        core.Site().m_settings.RemoveHistoryFlags(kAllHistoryItems);
        page.Clean();
        const auto shown = core.Box().GetShown();
        QCOMPARE(shown.size(), nBefore + 2);
        QCOMPARE(shown[nBefore].strText, std::wstring(L"Are you sure? This operation cannot be undone."));
        QCOMPARE(shown[nBefore].strCaption, std::wstring(L"Corvane"));
        QCOMPARE(shown[nBefore].uType & 0xF, UINT(MB_YESNO));
        QCOMPARE(shown[nBefore + 1].strText, std::wstring(L"Please select at least one item to clean."));
        QTest::qWait(200);
        for (const std::string& strHost : vcTraces) {
            QVERIFY2(std::filesystem::exists(strHost), strHost.c_str());
        }
    }

    void ACleanShowsOneResultRowPerErasedTrace() {
        CorvaneTest::CDemoCore core;
        Platform::CDemoExpectations expected;
        std::wstring strError;
        QVERIFY(Platform::LoadDemoExpectations(core.Prefix().toStdString(), expected, strError));
        constexpr DWORD kItems = HC_IE_COOKIES | HC_WINDOWS_RECENT_DOCUMENTS;
        core.Site().m_settings.RemoveHistoryFlags(kAllHistoryItems & ~kItems);
        core.Box().SetAnswer(IDYES);

        CHistoryCleanerDlg page(core.Site());
        QStringList rows;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            // The progress dialog closes itself at the engine's end; then the results show.
            if (auto* pResults = qobject_cast<CHistoryCleanResultsDlg*>(QApplication::activeModalWidget())) {
                QTableWidget* pTable = pResults->Table();
                for (int nRow = 0; nRow < pTable->rowCount(); ++nRow) {
                    rows << pTable->item(nRow, 0)->text() + "|" + pTable->item(nRow, 1)->text() + "|" +
                                pTable->item(nRow, 2)->text();
                }
                pResults->accept();
            }
        });
        watch.start(20);
        page.Clean();

        QStringList wanted;
        for (const Platform::CDemoTrace& trace : expected.m_vcHistory) {
            if ((trace.m_dwItems & kItems) != 0 && trace.m_bErased) {
                const DWORD dwBit = (trace.m_dwItems & HC_IE_COOKIES) ? HC_IE_COOKIES : HC_WINDOWS_RECENT_DOCUMENTS;
                wanted << HistoryCategoryText(dwBit) + "|" + QString::fromStdWString(trace.m_strPath) + "|Succesfully cleared";
            }
        }
        QVERIFY(!wanted.isEmpty());
        for (const QString& strWanted : wanted) {
            QVERIFY2(rows.contains(strWanted, Qt::CaseInsensitive), qPrintable(strWanted + "\nnot in\n" + rows.join("\n")));
        }
        for (const QString& strRow : rows) {
            QVERIFY2(strRow.startsWith("Internet Explorer Cookies|") || strRow.startsWith("Windows Recent Documents|"),
                     qPrintable(strRow));
        }
    }

    void StartupButtonsFollowTheChecksAndTheListShowsWhatIsThere() {
        CorvaneTest::CDemoCore core;
        CToolsDlg page(core.Site());
        const std::size_t nBoxes = core.Box().GetShown().size();
        QVERIFY(!page.DisableButton()->isEnabled() && !page.EnableButton()->isEnabled() &&
                !page.DeleteButton()->isEnabled());
        QTreeWidgetItem* pRow = Row(page, "GoneTray");
        QVERIFY(pRow != nullptr);
        QCOMPARE(pRow->text(CToolsDlg::ColumnLocation),
                 QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run (64-bit view)"));
        pRow->setCheckState(CToolsDlg::ColumnName, Qt::Checked);
        QVERIFY(page.DisableButton()->isEnabled() && !page.EnableButton()->isEnabled() && page.DeleteButton()->isEnabled());

        QTest::mouseClick(page.DisableButton(), Qt::LeftButton);
        pRow = Row(page, "GoneTray");
        QCOMPARE(pRow->text(CToolsDlg::ColumnState), QString("Disabled"));
        QCOMPARE(pRow->checkState(CToolsDlg::ColumnName), Qt::Unchecked);
        pRow->setCheckState(CToolsDlg::ColumnName, Qt::Checked);
        QVERIFY(!page.DisableButton()->isEnabled() && page.EnableButton()->isEnabled());
        QTest::mouseClick(page.EnableButton(), Qt::LeftButton);
        QCOMPARE(Row(page, "GoneTray")->text(CToolsDlg::ColumnState), QString("Enabled"));

        Row(page, "Notepad.lnk")->setCheckState(CToolsDlg::ColumnName, Qt::Checked);
        QTest::mouseClick(page.DeleteButton(), Qt::LeftButton);
        QVERIFY(Row(page, "Notepad.lnk") == nullptr);
        QCOMPARE(core.Box().GetShown().size(), nBoxes);
    }

    void AStartupChangeTheRegistryRefusesIsShownWithItsReason() {
        CorvaneTest::CDemoCore core(&CorvaneTest::AddUnreadableLine);
        CToolsDlg page(core.Site());
        const int nRows = page.List()->topLevelItemCount();
        Row(page, "GoneTray")->setCheckState(CToolsDlg::ColumnName, Qt::Checked);
        QTest::mouseClick(page.DisableButton(), Qt::LeftButton);
        QCOMPARE(Row(page, "GoneTray")->text(CToolsDlg::ColumnState), QString("Enabled"));
        QCOMPARE(page.List()->topLevelItemCount(), nRows);
        const auto shown = core.Box().GetShown();
        QVERIFY(!shown.empty());
        QVERIFY2(shown.back().strText.find(L"GoneTray: ") != std::wstring::npos,
                 qPrintable(QString::fromStdWString(shown.back().strText)));
        QVERIFY(core.Site().m_settings.GetDisabledItems().empty());
    }
};

QTEST_MAIN(ToolsPagesTest)
#include "tools_pages_test.moc"
