// The process manager page on real processes: its columns and marks, the refresh that runs only
// while the page is shown, sorting, and the end of a process after the warning.
#include <QSignalSpy>
#include <QTest>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tools/ProcessManager/CppSQLite3.h"
#include "ui/ProcessManagerPage/ProcMgrDlg.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;
using CorvaneTest::CChild;
using CorvaneTest::CTempFolder;
using CorvaneTest::SleepAs;

namespace {

// The view row of the process, -1 when it is not listed.
int RowOf(const CProcMgrDlg& page, DWORD dwPid) {
    for (int nRow = 0; nRow < page.View()->model()->rowCount(); ++nRow) {
        if (page.ProcessAt(nRow)->m_dwProcessId == dwPid) {
            return nRow;
        }
    }
    return -1;
}

QString Cell(const CProcMgrDlg& page, int nRow, int nColumn, int nRole = Qt::DisplayRole) {
    return page.View()->model()->index(nRow, nColumn).data(nRole).toString();
}

void Select(CProcMgrDlg& page, DWORD dwPid) {
    page.View()->selectRow(RowOf(page, dwPid));
}

}  // namespace

class ProcessManagerTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;
    CTempFolder m_dir{"corvane-ui-proc"};
    CRecordingMessageBox m_box;

    std::string Database() {
        const std::string strDb = (m_dir / "Processes.db").string();
        if (!std::filesystem::exists(strDb)) {
            CppSQLite3DB db;
            db.open(strDb, true);
            db.execDML("CREATE TABLE unwanted (process_name TEXT); CREATE TABLE malicious (process_name TEXT);"
                       "INSERT INTO unwanted VALUES ('page-unwanted'); INSERT INTO malicious VALUES ('page-bad');");
        }
        return strDb;
    }

private slots:
    void RowsShowTheColumnsAndTheMark() {
        CChild unwanted(SleepAs(m_dir, "page-unwanted"), {"page-unwanted", "30"});
        CChild bad(SleepAs(m_dir, "page-bad"), {"page-bad", "30"});
        CProcMgrDlg page(m_box, Database());
        QVERIFY(page.Notice()->isHidden());
        page.Refresh();
        const QAbstractItemModel* pModel = page.View()->model();
        const QStringList headers = {"",       "PID",    "Name",      "CPU Usage",  "Memory Usage",
                                     "Description", "Signer", "File Path", "Wine Prefix"};
        QCOMPARE(pModel->columnCount(), headers.size());
        for (int i = 0; i < headers.size(); ++i) {
            QCOMPARE(pModel->headerData(i, Qt::Horizontal).toString(), headers[i]);
        }
        const int nRow = RowOf(page, unwanted.Pid());
        QVERIFY(nRow >= 0);
        QCOMPARE(Cell(page, nRow, CProcessModel::Pid), QString::number(unwanted.Pid()));
        QCOMPARE(Cell(page, nRow, CProcessModel::Name), QString("page-unwanted"));
        QCOMPARE(Cell(page, nRow, CProcessModel::Cpu), QString("0.00"));
        QCOMPARE(Cell(page, nRow, CProcessModel::Signer), QString("Not Signed"));
        QCOMPARE(Cell(page, nRow, CProcessModel::Path), QString::fromStdString((m_dir / "bin/page-unwanted").string()));
        QCOMPARE(Cell(page, nRow, CProcessModel::Status, Qt::ToolTipRole), QString("Listed as unwanted"));
        QVERIFY(!pModel->index(nRow, CProcessModel::Status).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(Cell(page, RowOf(page, bad.Pid()), CProcessModel::Status, Qt::ToolTipRole), QString("Listed as malicious"));
        QCOMPARE(Cell(page, nRow, CProcessModel::Prefix), QString());
    }

    // A Windows program shows its Windows path and, beside it, the prefix whose drive C: it means.
    void WineProcessShowsItsPrefix() {
        const std::filesystem::path prefix = m_dir / "prefix";
        std::filesystem::create_directories(prefix / "drive_c");
        std::filesystem::create_directories(prefix / "dosdevices");
        std::error_code error;
        std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices/c:", error);
        CChild wine(SleepAs(m_dir, "wine64-preloader"), {"C:\\Apps\\app.exe", "30"}, {"WINEPREFIX=" + prefix.string()});
        CProcMgrDlg page(m_box, Database());
        page.Refresh();
        const int nRow = RowOf(page, wine.Pid());
        QVERIFY(nRow >= 0);
        QCOMPARE(Cell(page, nRow, CProcessModel::Name), QString("app.exe"));
        QCOMPARE(Cell(page, nRow, CProcessModel::Path), QString("C:\\Apps\\app.exe"));
        QCOMPARE(Cell(page, nRow, CProcessModel::Prefix), QString::fromStdString(prefix.string()));
    }

    void MissingDatabaseIsSaidOnTheNotice() {
        CProcMgrDlg page(m_box, (m_dir / "missing.db").string());
        QVERIFY(!page.Notice()->isHidden());
        QVERIFY(page.Notice()->text().contains("unavailable"));
        page.Refresh();
        QVERIFY(page.View()->model()->rowCount() > 0);
    }

    void RefreshesOnlyWhileShownAndDropsEndedProcesses() {
        CProcMgrDlg page(m_box, Database());
        QVERIFY(!page.Timer().isActive());
        page.show();
        QVERIFY(page.Timer().isActive());
        QCOMPARE(page.Timer().interval(), 1000);
        auto pChild = std::make_unique<CChild>(SleepAs(m_dir, "page-sleeper"), std::vector<std::string>{"page-sleeper", "30"});
        const DWORD dwPid = pChild->Pid();
        QTRY_VERIFY_WITH_TIMEOUT(RowOf(page, dwPid) >= 0, 5000);
        pChild.reset();  // killed and reaped
        QTRY_VERIFY_WITH_TIMEOUT(RowOf(page, dwPid) < 0, 5000);
        page.hide();
        QVERIFY(!page.Timer().isActive());
    }

    void SortsByAnyColumnNumbersAsNumbers() {
        CChild a(SleepAs(m_dir, "page-sleeper"), {"page-sleeper", "30"});
        CProcMgrDlg page(m_box, Database());
        page.Refresh();
        const int nRows = page.View()->model()->rowCount();
        QVERIFY(nRows >= 2);
        page.View()->sortByColumn(CProcessModel::Memory, Qt::DescendingOrder);
        for (int nRow = 1; nRow < nRows; ++nRow) {
            QVERIFY(page.ProcessAt(nRow - 1)->m_nMemory >= page.ProcessAt(nRow)->m_nMemory);
        }
        page.View()->sortByColumn(CProcessModel::Pid, Qt::AscendingOrder);
        for (int nRow = 1; nRow < nRows; ++nRow) {
            QVERIFY(page.ProcessAt(nRow - 1)->m_dwProcessId < page.ProcessAt(nRow)->m_dwProcessId);
        }
        page.View()->sortByColumn(CProcessModel::Name, Qt::AscendingOrder);
        for (int nRow = 1; nRow < nRows; ++nRow) {
            QVERIFY(QString::fromStdWString(page.ProcessAt(nRow - 1)->m_strName).toLower() <=
                    QString::fromStdWString(page.ProcessAt(nRow)->m_strName).toLower());
        }
    }

    void EndAsksFirstAndEndsOnlyOnYes() {
        CChild sleeper(SleepAs(m_dir, "page-sleeper"), {"page-sleeper", "30"});
        CProcMgrDlg page(m_box, Database());
        page.Refresh();
        QVERIFY(!page.EndButton()->isEnabled());
        Select(page, sleeper.Pid());
        QVERIFY(page.EndButton()->isEnabled());

        m_box.SetAnswer(IDNO);
        const std::size_t nShown = m_box.GetShown().size();
        page.EndButton()->click();
        QCOMPARE(m_box.GetShown().size(), nShown + 1);
        QVERIFY(QString::fromStdWString(m_box.GetShown().back().strText).startsWith("If an opened program"));
        QCOMPARE(m_box.GetShown().back().uType & 0xf, MB_YESNO);
        QVERIFY(sleeper.Running());
        QVERIFY(RowOf(page, sleeper.Pid()) >= 0);

        m_box.SetAnswer(IDYES);
        page.EndButton()->click();
        const int nStatus = sleeper.Reap();
        QVERIFY(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL);
        QCOMPARE(RowOf(page, sleeper.Pid()), -1);
        QVERIFY(!page.EndButton()->isEnabled());
        m_box.SetAnswer(0);
    }

    void EndThatFailsKeepsTheRowAndSaysWhy() {
        auto pChild = std::make_unique<CChild>(SleepAs(m_dir, "page-sleeper"), std::vector<std::string>{"page-sleeper", "30"});
        const DWORD dwPid = pChild->Pid();
        CProcMgrDlg page(m_box, Database());
        page.Refresh();
        Select(page, dwPid);
        pChild.reset();  // it ends on its own before the user confirms
        m_box.SetAnswer(IDYES);
        page.EndButton()->click();
        QVERIFY(QString::fromStdWString(m_box.GetShown().back().strText).endsWith("has already ended."));
        QVERIFY(RowOf(page, dwPid) >= 0);
        page.Refresh();
        QCOMPARE(RowOf(page, dwPid), -1);
        m_box.SetAnswer(0);
    }
};

QTEST_MAIN(ProcessManagerTest)
#include "process_manager_test.moc"
