// The pieces of the program that need no engine: the command line, the item shortening, the
// hand-over from the bus, the message boxes of workers, the tray, the
// target chooser and the window without a tray.
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include "core/RegError.h"
#include "tests/support/temp_folder.h"
#include "ui/App/CommandLine.h"
#include "ui/Bus/QtMessageBox.h"
#include "ui/Bus/WindowObserver.h"
#include "ui/MainWindow/MainWindow.h"
#include "ui/ProgressPage/ProgressPage.h"
#include "ui/TargetChooser/TargetChooser.h"
#include "ui/Tray/Tray.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;

namespace {

// Waits that a loaded machine may stretch.
constexpr int kSlow = 60000;

// Counts what reaches the interface thread, in order.
struct SDelivered {
    std::vector<int> vcTypes;
    std::vector<int> vcAdded;
    int nLastProgress = -1;
    bool bOffThread = false;
};

// Says when the runner has dispatched a message of the type.
class CMarker : public IObserver {
public:
    void Processmessage(CMessage*) override { m_bSeen = true; }
    std::atomic<bool> m_bSeen{false};
};

}  // namespace

class PartsTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;

private slots:
    void StartSwitchesAreFoundAnywhereCaseSensitively() {
        QCOMPARE(StartModeOf({"/usr/bin/corvane"}), EStartMode::Normal);
        QCOMPARE(StartModeOf({"corvane", "-shed", "-scan"}), EStartMode::Scan);
        QCOMPARE(StartModeOf({"/opt/my-scanner/corvane"}), EStartMode::Scan);
        QCOMPARE(StartModeOf({"corvane", "-shed"}), EStartMode::Scheduled);
        QCOMPARE(StartModeOf({"corvane", "-SCAN"}), EStartMode::Normal);

        const SCommandLine line = ParseCommandLine({"corvane", "-shed", "--prefix", "/p"});
        QCOMPARE(line.eMode, EStartMode::Scheduled);
        QCOMPARE(line.TargetArguments(), (std::vector<std::string>{"--prefix", "/p"}));
        const SCommandLine volume = ParseCommandLine({"corvane", "--windows", "/mnt/c", "--user", "Ann"});
        QCOMPARE(volume.TargetArguments(), (std::vector<std::string>{"--windows", "/mnt/c", "--user", "Ann"}));
        for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
                 {"corvane", "--prefix"}, {"corvane", "--windows", "/mnt/c"}, {"corvane", "--keep", "/k"},
                 {"corvane", "--demo", "--prefix", "/p"}, {"corvane", "--frobnicate"}}) {
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ParseCommandLine(bad));
        }
    }

    void ItemsLongerThan80CharactersAreShortened() {
        const QString s80(80, 'a');
        QCOMPARE(ShortenItem(s80), s80);
        QString s81;
        for (int i = 0; i < 81; ++i) {
            s81 += QChar('0' + i % 10);
        }
        const QString shown = ShortenItem(s81);
        QCOMPARE(shown.size(), 80);
        QCOMPARE(shown, s81.left(5) + "..." + s81.right(72));
    }

    void BusHandOverCoalescesProgressOnlyAndStaysInOrder() {
        CMessageManager messages;
        CThreadManager threads;
        messages.Subscribe(CFinishThreadMessage::kType, &threads);
        threads.StartThread(&CMessageRunnerData::MessageRunnerProc, std::make_unique<CMessageRunnerData>(&messages));
        QObject window;
        SDelivered got;
        CMarker marker;
        {
            CWindowObserver observer(messages, &window,
                                     {CScanProgressMessage::kType, CErrorAddedMessage::kType, CFinishScanMessage::kType},
                                     [&](const CMessage& m) {
                                         got.bOffThread = got.bOffThread || QThread::currentThread() != window.thread();
                                         got.vcTypes.push_back(m.m_nType);
                                         if (m.m_nType == CErrorAddedMessage::kType) {
                                             got.vcAdded.push_back(static_cast<const CErrorAddedMessage&>(m).m_nErrorCount);
                                         } else if (m.m_nType == CScanProgressMessage::kType) {
                                             got.nLastProgress = static_cast<const CProgressMessage&>(m).m_nProgress;
                                         }
                                     });
            messages.Subscribe(CFinishScanMessage::kType, &marker);
            // The window is busy (this thread handles no events) while the engine posts.
            for (int i = 1; i <= 1000; ++i) {
                messages.Send(std::make_unique<CScanProgressMessage>(i / 10, L"item", COM));
                if (i % 100 == 0) {
                    messages.Send(std::make_unique<CErrorAddedMessage>(i / 100, COM));
                }
            }
            messages.Send(std::make_unique<CFinishScanMessage>());
            QTRY_VERIFY_WITH_TIMEOUT(marker.m_bSeen, kSlow);
            QTRY_VERIFY_WITH_TIMEOUT(!got.vcTypes.empty() && got.vcTypes.back() == CFinishScanMessage::kType, kSlow);
            messages.Unsubscribe(CFinishScanMessage::kType, &marker);
        }
        threads.StopAllThreads();
        messages.Unsubscribe(CFinishThreadMessage::kType, &threads);
        QVERIFY(!got.bOffThread);
        QCOMPARE(got.vcAdded, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        QCOMPARE(std::count(got.vcTypes.begin(), got.vcTypes.end(), int(CFinishScanMessage::kType)), 1);
        const auto nProgress = std::count(got.vcTypes.begin(), got.vcTypes.end(), int(CScanProgressMessage::kType));
        QVERIFY(nProgress >= 1);
        QVERIFY2(nProgress < 100, qPrintable(QString("%1 progress messages reached the busy window").arg(nProgress)));
        QCOMPARE(got.nLastProgress, 100);
    }

    void WorkerBoxBlocksTheWorkerNotTheInterface() {
        CQtMessageBox box(qApp);
        int nTicks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++nTicks; });
        ticker.start(10);
        // Answer the box once the interface has ticked on while the worker waits.
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (pBox != nullptr && nTicks > 10) {
                QCOMPARE(pBox->windowTitle(), QString("Corvane"));
                QCOMPARE(pBox->text(), QString("Delete it?"));
                pBox->button(QMessageBox::Yes)->click();
            }
        });
        answer.start(20);
        std::atomic<int> nAnswer{0};
        std::thread worker([&] { nAnswer = box.Show(L"Delete it?", L"Corvane", MB_YESNO | MB_ICONQUESTION); });
        QTRY_VERIFY_WITH_TIMEOUT(nAnswer != 0, 20000);
        worker.join();
        QCOMPARE(nAnswer.load(), IDYES);
        QVERIFY(nTicks > 10);

        // While the interface waits for workers, a waiting box is answered "no" and never shown.
        answer.stop();
        std::atomic<int> nUnattended{0};
        std::thread late([&] { nUnattended = box.Show(L"Really?", L"Corvane", MB_YESNO); });
        QTest::qSleep(200);  // the worker waits for this (busy) thread
        {
            const CQtMessageBox::CUnattended unattended(box);
            late.join();
        }
        QCOMPARE(nUnattended.load(), IDNO);
        QTest::qWait(100);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void TrayMenuGraysWhileScanningAndGivesUpAfterEightTries() {
        CMessageManager messages;
        bool bScanning = false;
        CTray tray(ProgramIcon(), messages, [&] { return bScanning; }, 1);
        QSignalSpy gaveUp(&tray, &CTray::GaveUp);
        QSignalSpy commands(&tray, &CTray::Command);
        QStringList texts;
        for (QAction* pAction : tray.Menu().actions()) {
            texts << (pAction->isSeparator() ? "-" : pAction->text());
        }
        QCOMPARE(texts, (QStringList{"&Open Corvane", "&Start Scan", "S&how Last Scan", "-", "E&xit"}));
        emit tray.Menu().aboutToShow();
        QVERIFY(tray.Menu().actions()[1]->isEnabled());
        bScanning = true;
        emit tray.Menu().aboutToShow();
        QVERIFY(!tray.Menu().actions()[1]->isEnabled());
        QVERIFY(!tray.Menu().actions()[2]->isEnabled());
        QVERIFY(tray.Menu().actions()[0]->isEnabled());
        tray.Menu().actions()[4]->trigger();
        QCOMPARE(commands.count(), 1);
        QCOMPARE(commands[0][0].toInt(), kCmdExit);
        // The offscreen desktop has no tray.
        QTRY_COMPARE_WITH_TIMEOUT(gaveUp.count(), 1, kSlow);
        QCOMPARE(tray.Attempts(), CTray::kAttempts);
        QTest::qWait(50);
        QCOMPARE(tray.Attempts(), CTray::kAttempts);
        QVERIFY(!tray.HasIcon());
    }

    void WindowWithoutTrayEndsWhenClosed() {
        CorvaneTest::CDemoCore core;
        CCorvanesDlg window(core.Site(), core.Session(), true);
        window.show();
        QSignalSpy exit(&window, &CCorvanesDlg::ExitRequested);
        QVERIFY(window.Tray() != nullptr && !window.Tray()->HasIcon());
        window.close();
        QCOMPARE(exit.count(), 1);
        // Page buttons switch pages; the Tools and Settings pages are containers.
        QTest::mouseClick(window.PageButton(CCorvanesDlg::ToolsPage), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CCorvanesDlg::ToolsPage));
        QCOMPARE(window.ToolsTab()->PageCount(), std::max<int>(1, int(ToolsPages().size())));
        QCOMPARE(window.SettingsTab()->PageCount(), std::max<int>(1, int(SettingsPages().size())));
        window.OnCommand(kCmdShowLastScan);
        QCOMPARE(window.CurrentPage(), int(CCorvanesDlg::ResultsPage));
    }

    void ChooserListsWhatDiscoveryFindsAndTheVolumesUsers() {
        CorvaneTest::CTempFolder tmp("corvane-chooser");
        CorvaneTest::Touch(tmp / "home/.wine/system.reg", "WINE REGISTRY Version 2\n#arch=win64\n");
        CorvaneTest::Touch(tmp / "mnt/win/Windows/System32/config/SOFTWARE", "regf");
        CorvaneTest::Touch(tmp / "mnt/win/Users/ann/NTUSER.DAT", "regf");
        CorvaneTest::Touch(tmp / "mnt/win/Users/bob/NTUSER.DAT", "regf");
        Platform::SDiscoveryRoots roots;
        roots.strHome = (tmp / "home").string();
        roots.strConfigHome = (tmp / "home/.config").string();
        roots.strDataHome = (tmp / "home/.local/share").string();
        roots.vcMountRoots = {(tmp / "mnt").string()};
        CTargetChooser chooser("why", roots);
        QSignalSpy found(&chooser, &CTargetChooser::Found);
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, kSlow);
        QTreeWidget& list = *chooser.List();
        QCOMPARE(list.topLevelItemCount(), 2);
        QCOMPARE(list.topLevelItem(0)->text(1), QString("Wine prefix"));
        QCOMPARE(list.topLevelItem(0)->text(3), QString("64-bit"));
        QCOMPARE(list.topLevelItem(0)->text(5), QString("not running"));
        QCOMPARE(list.topLevelItem(1)->text(1), QString("Windows volume"));
        list.setCurrentItem(list.topLevelItem(1));
        QCOMPARE(chooser.Users()->count(), 2);
        chooser.Users()->setCurrentIndex(1);
        chooser.OpenButton()->click();
        QCOMPARE(chooser.result(), int(QDialog::Accepted));
        QCOMPARE(chooser.Chosen().strFolder, (tmp / "mnt/win").string());
        QCOMPARE(chooser.Chosen().strUser, std::string("bob"));
    }
};

QTEST_MAIN(PartsTest)
#include "parts_test.moc"
