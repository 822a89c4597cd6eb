// The backups page and the backup dialog on the demo prefix, through real fixes, backups and
// restores: a restore brings every finding back and takes the backup away; one that fails keeps
// the backup and says why; a delete asks first; the dialog's pause never blocks the window.
#include <QApplication>
#include <QFile>
#include <QTest>

#include "ui/BackupsPage/BackupsPage.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;

namespace {

constexpr int kLong = 120000;

std::multiset<std::wstring> FoundPaths(CScanSession& session) {
    std::multiset<std::wstring> paths;
    for (const auto& [nId, pRecord] : session.Findings()) {
        paths.insert(pRecord->GetFullPath());
    }
    return paths;
}

// The findings that are files the fix removes.
std::size_t FileFindings(CScanSession& session) {
    std::size_t nFiles = 0;
    for (const auto& [nId, pRecord] : session.Findings()) {
        nFiles += pRecord->m_hRoot == 0 && pRecord->m_bDeleteSelf ? 1 : 0;
    }
    return nFiles;
}

QString HostPath(SPageSite& site, const std::wstring& strPath) {
    std::string strHost;
    return site.m_target.Files().HostPath(strPath, strHost).Ok() ? QString::fromStdString(strHost) : QString();
}

// A scan and a fix of everything with the backup the settings ask for; returns its name.
std::wstring ScanAndFix(CScanSession& session) {
    if (!session.Scan(0xFFF) || !session.Fix({})) {
        qFatal("scan and fix: %ls", session.LastError().c_str());
    }
    return session.FixOutcome().strBackup;
}

}  // namespace

class BackupsPageTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;

private slots:
    void ARestoreOfAFixBringsEveryFindingBackAndRemovesThatBackup() {
        CorvaneTest::CDemoCore core;
        SPageSite& site = core.Site();
        QVERIFY(core.Session().Scan(0xFFF));
        const std::multiset<std::wstring> before = FoundPaths(core.Session());
        const std::size_t nFiles = FileFindings(core.Session());
        QVERIFY(nFiles > 0);
        QVERIFY(core.Session().Fix({}));
        const std::wstring strName = core.Session().FixOutcome().strBackup;
        QVERIFY(!strName.empty());

        QWidget window;
        auto* pPage = new CBackupsDlg(site, &window);
        window.show();
        QCOMPARE(pPage->List()->topLevelItemCount(), 1);
        const QTreeWidgetItem* pRow = pPage->List()->topLevelItem(0);
        QCOMPARE(pRow->text(CBackupsDlg::ColumnName), QString::fromStdWString(strName));
        QCOMPARE(pRow->text(CBackupsDlg::ColumnFiles), QString("%1 files").arg(nFiles));
        QVERIFY(pPage->RestoreButton()->isEnabled());

        QTest::mouseClick(pPage->RestoreButton(), Qt::LeftButton);
        QVERIFY(pPage->Dialog() != nullptr);
        QVERIFY(!pPage->RestoreButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(pPage->Dialog() == nullptr, kLong);
        QCOMPARE(pPage->List()->topLevelItemCount(), 0);
        QVERIFY(site.m_backUpManager.GetBackups().empty());
        QVERIFY(!QFile::exists(HostPath(site, site.m_backUpManager.GetFolder() + strName + L".bak")));

        // The restore made the fixed categories report again at once.
        QVERIFY(core.Session().Scan(0xFFF));
        QCOMPARE(FoundPaths(core.Session()), before);
    }

    void ARestoreThatFailsKeepsTheBackupAndSaysWhatFailed() {
        CorvaneTest::CDemoCore core;
        SPageSite& site = core.Site();
        const std::wstring strName = ScanAndFix(core.Session());
        const QString strBak = HostPath(site, site.m_backUpManager.GetFolder() + strName + L".bak");
        QFile file(strBak);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(file.size() / 2));
        file.close();

        const std::size_t nBoxes = core.Box().GetShown().size();  // of the start-up
        QWidget window;
        auto* pPage = new CBackupsDlg(site, &window);
        window.show();
        pPage->RestoreSelected();
        QPointer<CBackupDlg> pDialog = pPage->Dialog();
        QVERIFY(pDialog != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(pDialog->Status().contains("was not restored, and it is kept"), kLong);
        QVERIFY2(pDialog->Status().contains("is damaged"), qPrintable(pDialog->Status()));
        // It waits for the user, however long.
        QTest::qWait(CBackupDlg::kPauseMs + 300);
        QVERIFY(pDialog != nullptr && pDialog->isVisible());
        QCOMPARE(pDialog->CancelButton()->text(), QString("Close"));
        QVERIFY(!pDialog->Restored());
        QTest::mouseClick(pDialog->CancelButton(), Qt::LeftButton);
        QTRY_VERIFY(pDialog == nullptr);
        QVERIFY(QFile::exists(strBak));
        QCOMPARE(pPage->List()->topLevelItemCount(), 1);
        QVERIFY(pPage->RestoreButton()->isEnabled());
        QCOMPARE(core.Box().GetShown().size(), nBoxes);
    }

    void ATargetThatCannotBeWrittenStartsNoRestore() {
        CorvaneTest::CDemoCore core;
        SPageSite& site = core.Site();
        const std::wstring strName = ScanAndFix(core.Session());
        CorvaneTest::AddUnreadableLine(core.Prefix());
        site.m_target.Registry().Reload();
        const std::size_t nBoxes = core.Box().GetShown().size();  // of the start-up
        CBackupsDlg page(site);
        page.RestoreSelected();
        QVERIFY(page.Dialog() == nullptr);
        QCOMPARE(core.Box().GetShown().size(), nBoxes + 1);
        QVERIFY(core.Box().GetShown().back().strText.starts_with(L"Nothing was restored"));
        QCOMPARE(page.List()->topLevelItemCount(), 1);
    }

    void ADeleteAsksFirstAndTakesTheFilesWithIt() {
        CorvaneTest::CDemoCore core;
        SPageSite& site = core.Site();
        const std::wstring strName = ScanAndFix(core.Session());
        const QString strBak = HostPath(site, site.m_backUpManager.GetFolder() + strName + L".bak");
        const QString strFiles = HostPath(site, BackupFilesFolder(site.m_backUpManager.GetFolder() + strName + L".bak"));
        QVERIFY(QFileInfo(strFiles).isDir());
        CBackupsDlg page(site);
        core.Box().SetAnswer(IDNO);
        page.DeleteSelected();
        QVERIFY(QFile::exists(strBak));
        QCOMPARE(page.List()->topLevelItemCount(), 1);
        core.Box().SetAnswer(IDYES);
        page.DeleteSelected();
        QCOMPARE(page.List()->topLevelItemCount(), 0);
        QVERIFY(!QFile::exists(strBak));
        QVERIFY(!QFileInfo::exists(strFiles));
        QVERIFY(site.m_backUpManager.GetBackups().empty());
        QVERIFY(!page.RestoreButton()->isEnabled());
        QVERIFY(!page.DeleteButton()->isEnabled());
    }

    void TheCreationDialogPausesOnATimerAndClosesItself() {
        CorvaneTest::CDemoCore core;
        CScanSession& session = core.Session();
        QVERIFY(session.Scan(0xFFF));
        session.SetStepCallback([&session] {
            QMetaObject::invokeMethod(qApp, [&session] { session.Advance(); }, Qt::QueuedConnection);
        });
        CBackupDlg dialog(core.Site(), CBackupDlg::EMode::Create);
        dialog.open();
        QVERIFY(session.StartFix({}));
        QVERIFY(session.IsBackingUp());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.Status(), QString("The backup is taken."), kLong);
        // The event loop runs during the pause: the dialog is still there, and goes by itself.
        QVERIFY(dialog.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 5000);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QTRY_VERIFY_WITH_TIMEOUT(session.Advance(), kLong);
        session.SetStepCallback(nullptr);
        QCOMPARE(core.Site().m_backUpManager.GetBackups().size(), std::size_t(1));
    }
};

QTEST_MAIN(BackupsPageTest)
#include "backups_page_test.moc"
