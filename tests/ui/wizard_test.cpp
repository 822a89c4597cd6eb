// The scan and fix wizard of the main window on the demo prefix, driven as a user drives it.
#include <QAbstractItemView>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <set>

#include "ui/App/CommandLine.h"
#include "ui/MainWindow/MainWindow.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;
using CorvaneTest::CDemoCore;

namespace {

// Waits that a loaded machine may stretch.
constexpr int kSlow = 60000;

constexpr int kLong = 180000;  // a scan or fix of the demo under the sanitizers

int TotalRows(const CScanFixProgressDlg& page) {
    int n = 0;
    for (int i = 0; i < 12; ++i) {
        n += page.RowCount(i).toInt();
    }
    return n;
}

// Selects the first category whose finding count satisfies pred; its row, or -1.
int SelectCategory(CResultsDlg& results, const std::function<bool(int)>& pred) {
    for (int i = 0; i < results.Categories()->count(); ++i) {
        results.Categories()->setCurrentRow(i);
        if (pred(results.Records()->rowCount())) {
            return i;
        }
    }
    return -1;
}

void ClickCheckBox(QAbstractItemView& view, int nRow) {
    QStyleOptionViewItem option;
    option.rect = view.visualRect(view.model()->index(nRow, 0));
    option.widget = &view;
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, CRecordDelegate::CheckRect(option).center());
}

void ClickIgnore(QAbstractItemView& view, int nRow) {
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(view.model()->index(nRow, 1)).center());
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;

private slots:
    void WholeWizardOnTheDemo() {
        CDemoCore core;
        const int nAll = core.Findings();
        CCorvanesDlg window(core.Site(), core.Session(), false);
        window.show();
        CResultsDlg& results = *window.ResultsTab()->Results();
        QCOMPARE(results.Title(), QString("0 Issues Detected!"));
        QVERIFY(!window.PendingLink()->isVisible());
        QVERIFY(window.TargetText().contains(core.Prefix()));
        QVERIFY(window.TargetText().contains("Wine prefix, 64-bit"));

        CScanFixProgressDlg& progress = *window.ScanTab()->Progress();
        QTest::mouseClick(window.ScanTab()->Start()->StartButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(progress.NextButton()->isEnabled(), kLong);
        QCOMPARE(progress.Title(), QString("Scanning Computer"));
        QCOMPARE(progress.Total(), QString("%1 Problem(s) Found").arg(nAll));
        QCOMPARE(TotalRows(progress), nAll);
        QCOMPARE(progress.Status(), QString("System scan is complete. Click Next to proceed."));
        QVERIFY(!progress.CancelButton()->isEnabled());
        QVERIFY(progress.CurrentItem().isEmpty());
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(progress.RowProgress(i), 100);
        }
        QVERIFY(window.PageButton(CCorvanesDlg::ResultsPage)->isEnabled());

        QTest::mouseClick(progress.NextButton(), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CCorvanesDlg::ResultsPage));
        QVERIFY(window.ScanTab()->IsStartShown());
        QCOMPARE(window.PendingLink()->text(), QString("%1 Issues Pending Repair").arg(nAll));
        QVERIFY(window.PendingLink()->isVisible());
        QCOMPARE(results.Title(), QString("%1 Issues Found!").arg(nAll));
        QCOMPARE(results.Categories()->count(), 12);
        QCOMPARE(results.Categories()->currentRow(), 0);
        const int nCom = int(core.Site().m_scanManager.GetErrorCount(COM));
        QCOMPARE(results.Categories()->item(0)->text(), QString("COM/ActiveX Entries (%1)").arg(nCom));
        QCOMPARE(results.Records()->rowCount(), nCom);

        // Every row: its check box ticked, its description, its path where a registry editor finds it.
        bool bRedirected = false;
        for (int c = 0; c < results.Categories()->count(); ++c) {
            results.Categories()->setCurrentRow(c);
            CRecordModel& model = *results.Records();
            for (int r = 0; r < model.rowCount(); ++r) {
                const CRegError& record = *model.Record(r);
                QCOMPARE(model.data(model.index(r, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
                QCOMPARE(model.data(model.index(r, 0), Qt::DisplayRole).toString(),
                         QString::fromStdWString(record.m_sDescription));
                QCOMPARE(model.data(model.index(r, 1), Qt::DisplayRole).toString(), QString("Ignore"));
                const QString path = model.data(model.index(r, 0), CRecordModel::PathRole).toString();
                QCOMPARE(path, QString::fromStdWString(record.GetDisplayPath(core.Site().m_target.Registry())));
                bRedirected = bRedirected || path.contains("\\Wow6432Node\\");
            }
        }
        QVERIFY2(bRedirected, "the demo plants findings in the 32-bit view");

        // Leave every finding of the smallest category unfixed, and ignore one of another.
        int nSmallest = 0;
        int nKept = 30;
        for (int c = 0; c < results.Categories()->count(); ++c) {
            results.Categories()->setCurrentRow(c);
            if (results.Records()->rowCount() > 0 && results.Records()->rowCount() < nKept) {
                nKept = results.Records()->rowCount();
                nSmallest = c;
            }
        }
        results.Categories()->setCurrentRow(nSmallest);
        std::set<std::wstring> kept;
        for (int r = 0; r < nKept; ++r) {
            ClickCheckBox(*results.RecordView(), r);
            QCOMPARE(results.Records()->Record(r)->m_nState, int(FIX_STATE_LEFT));
            kept.insert(results.Records()->Record(r)->GetFullPath());
        }
        const int nIgnoredCategory = SelectCategory(results, [](int n) { return n >= 2; });
        QVERIFY(nIgnoredCategory >= 0 && nIgnoredCategory != nSmallest);
        const int nBefore = results.Records()->rowCount();
        const std::wstring strIgnored = results.Records()->Record(0)->GetFullPath();
        ClickIgnore(*results.RecordView(), 0);
        QCOMPARE(results.Records()->rowCount(), nBefore - 1);
        QVERIFY(results.Categories()->item(nIgnoredCategory)->text().endsWith(QString("(%1)").arg(nBefore - 1)));
        const int nFixed = nAll - 1 - nKept;

        CScanFixProgressDlg& fixProgress = *window.ResultsTab()->Progress();
        QTest::mouseClick(results.FixButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(results.Title(), QString("%1 Issues Fixed!").arg(nFixed), kLong);
        QCOMPARE(fixProgress.Title(), QString("Fixing Registry of Your Computer"));
        QCOMPARE(fixProgress.Total(), QString("%1 Problem(s) Fixed").arg(nFixed));
        QCOMPARE(fixProgress.Status(), QString("System fix is complete. Click Next to proceed."));
        QVERIFY(results.isVisibleTo(window.ResultsTab()));
        // What is left is what was left unchecked.
        std::set<std::wstring> left;
        for (int c = 0; c < results.Categories()->count(); ++c) {
            results.Categories()->setCurrentRow(c);
            for (int r = 0; r < results.Records()->rowCount(); ++r) {
                left.insert(results.Records()->Record(r)->GetFullPath());
            }
        }
        QCOMPARE(left, kept);
        QTRY_COMPARE_WITH_TIMEOUT(window.PendingLink()->text(), QString("%1 Issues Pending Repair").arg(nKept), kSlow);
        QVERIFY(!core.Site().m_backUpManager.GetBackups().empty());

        // Rescan: the ignored finding stays away, the kept ones are found again (the categories
        // that had fixes are quiet for a week).
        QTest::mouseClick(results.RescanButton(), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CCorvanesDlg::ScanPage));
        QTRY_COMPARE_WITH_TIMEOUT(progress.Total(), QString("%1 Problem(s) Found").arg(nKept), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(progress.NextButton()->isEnabled(), kLong);
        QCOMPARE(progress.Total(), QString("%1 Problem(s) Found").arg(nKept));
        QCOMPARE(results.Title(), QString("%1 Issues Found!").arg(nKept));
        for (const auto& [nId, pRecord] : core.Session().Findings()) {
            QVERIFY(pRecord->GetFullPath() != strIgnored);
        }
    }

    void CancelledScanNoLongerMovesThePageAndDoesNotFix() {
        CDemoCore core;
        core.Site().m_settings.SetGeneralFlag(CSettings::GENERAL_FIX_AFTER_SCAN, true);
        CCorvanesDlg window(core.Site(), core.Session(), false);
        window.show();
        CScanFixProgressDlg& progress = *window.ScanTab()->Progress();
        QVERIFY(!progress.CancelButton()->isEnabled());
        // The bus as a scan drives it; the page cannot tell.
        core.Messages().Send(std::make_unique<CStartScanMessage>());
        core.Messages().Send(std::make_unique<CScanProgressMessage>(40, L"HKEY_CLASSES_ROOT\\CLSID", COM));
        QTRY_COMPARE_WITH_TIMEOUT(progress.Progress(), 40, kSlow);
        QVERIFY(progress.CancelButton()->isEnabled());
        QCOMPARE(progress.Status(),
                 QString("Please wait until the scan is complete. To cancel your scan, press 'Cancel'."));
        QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
        QVERIFY(progress.IsCancelled());
        core.Messages().Send(std::make_unique<CScanProgressMessage>(90, L"late", FONTS));
        core.Messages().Send(std::make_unique<CFinishScanMessage>());
        QTRY_VERIFY_WITH_TIMEOUT(progress.NextButton()->isEnabled(), kSlow);
        QCOMPARE(progress.Progress(), 40);
        QCOMPARE(progress.RowProgress(2), 100);  // complete, not moved by the late message
        QTest::qWait(200);
        QCOMPARE(window.CurrentPage(), int(CCorvanesDlg::ScanPage));
        QVERIFY(!window.ScanTab()->IsStartShown());
        QVERIFY(window.ResultsTab()->Results()->isVisibleTo(window.ResultsTab()));
        QVERIFY(!core.Site().m_scanManager.IsFixing());
    }

    void NoCategoryChosenStartsNothing() {
        CDemoCore core;
        CCorvanesDlg window(core.Site(), core.Session(), false);
        window.show();
        CScanStart& start = *window.ScanTab()->Start();
        for (int i = 0; i < 12; ++i) {
            QVERIFY(start.CategoryBox(i)->isChecked());
            start.CategoryBox(i)->click();
        }
        QCOMPARE(core.Site().m_settings.GetScanFlags() & 0xFFF, DWORD(0));
        QVERIFY(QFile(QString::fromStdWString(core.Site().m_settings.GetPath())).exists() ||
                !core.Site().m_settings.GetPath().empty());
        QTest::mouseClick(start.StartButton(), Qt::LeftButton);
        const auto shown = core.Box().GetShown();
        const auto it = std::find_if(shown.begin(), shown.end(), [](const CRecordingMessageBox::SShown& box) {
            return box.strText == L"Please select items for scanning.";
        });
        QVERIFY(it != shown.end());
        QCOMPARE(it->uType & 0xF0, MB_ICONEXCLAMATION);
        QCOMPARE(it->strCaption, std::wstring(L"Corvane"));
        QVERIFY(!core.Site().m_scanManager.IsScanning());
        QTest::qWait(100);
        QVERIFY(window.ScanTab()->IsStartShown());
    }

    void AutomaticFixAfterScan() {
        CDemoCore core;
        const int nAll = core.Findings();
        core.Site().m_settings.SetGeneralFlag(CSettings::GENERAL_FIX_AFTER_SCAN, true);
        CCorvanesDlg window(core.Site(), core.Session(), false);
        window.show();
        window.OnCommand(kCmdStartScan);
        CResultsDlg& results = *window.ResultsTab()->Results();
        QTRY_COMPARE_WITH_TIMEOUT(results.Title(), QString("%1 Issues Fixed!").arg(nAll), kLong);
        QCOMPARE(window.CurrentPage(), int(CCorvanesDlg::ResultsPage));
        QCOMPARE(window.ResultsTab()->Progress()->Total(), QString("%1 Problem(s) Fixed").arg(nAll));
        QTRY_VERIFY_WITH_TIMEOUT(!window.PendingLink()->isVisible(), kSlow);
    }

    void RefusedFixIsShownAndChangesNothing() {
        CDemoCore core(CorvaneTest::AddUnreadableLine);
        CCorvanesDlg window(core.Site(), core.Session(), false);
        window.show();
        QFile system(core.Prefix() + "/system.reg");
        QVERIFY(system.open(QIODevice::ReadOnly));
        const QByteArray before = system.readAll();
        window.OnCommand(kCmdStartScan);  // reading is allowed
        QTRY_VERIFY_WITH_TIMEOUT(window.ScanTab()->Progress()->NextButton()->isEnabled(), kLong);
        QTest::mouseClick(window.ScanTab()->Progress()->NextButton(), Qt::LeftButton);
        CResultsDlg& results = *window.ResultsTab()->Results();
        const QString found = QString("%1 Issues Found!").arg(core.Findings());
        QCOMPARE(results.Title(), found);
        QTest::mouseClick(results.FixButton(), Qt::LeftButton);
        const auto shown = core.Box().GetShown();
        QVERIFY(!shown.empty());
        QVERIFY(QString::fromStdWString(shown.back().strText).startsWith("Nothing was changed"));
        QVERIFY(!core.Site().m_scanManager.IsFixing());
        QCOMPARE(results.Title(), found);
        QCOMPARE(results.Records()->rowCount(), int(core.Site().m_scanManager.GetErrorCount(COM)));
        system.seek(0);
        QCOMPARE(system.readAll(), before);
    }
};

QTEST_MAIN(WizardTest)
#include "wizard_test.moc"
