// The program as processes start it: the start switches, one instance per user, the hand-over
// from a later start, the scheduled start, a lock left by a dead instance, and the first run.
#include <signal.h>

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "app/ScanManager.h"
#include "ui/App/CommandLine.h"
#include "ui/App/FirstRun.h"
#include "ui/App/SingleInstance.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;

namespace {

// Waits that a loaded machine may stretch.
constexpr int kSlow = 60000;

constexpr int kLong = 180000;

QString Program() { return QString(CORVANE_BIN_DIR) + "/corvane"; }

// The pid written in the instance's lock file; 0 when there is none.
qint64 LockOwner() {
    QFile file(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/corvane.lock");
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return file.readLine().trimmed().toLongLong();
}

bool Alive(qint64 nPid) { return nPid > 0 && kill(static_cast<pid_t>(nPid), 0) == 0; }

QByteArray CommandLineOf(qint64 nPid) {
    QFile file(QString("/proc/%1/cmdline").arg(nPid));
    return file.open(QIODevice::ReadOnly) ? file.readAll().replace('\0', ' ') : QByteArray();
}

void WriteFirstRun(const QString& prefix, DWORD dwValue) {
    std::wstring strError;
    auto pTarget = Platform::CTarget::OpenWinePrefix(prefix.toStdString(), strError);
    QVERIFY(pTarget != nullptr);
    Platform::CRegKey key;
    QCOMPARE(pTarget->Registry().CreateKey(HKEY_LOCAL_MACHINE, kCorvaneKey, KEY_ALL_ACCESS | kCorvaneKeyView, &key),
             ERROR_SUCCESS);
    const Platform::CRegBytes data = {static_cast<std::uint8_t>(dwValue), 0, 0, 0};
    QCOMPARE(key.SetValue(L"FirstRun", REG_DWORD, data), ERROR_SUCCESS);
    QVERIFY(pTarget->Registry().Flush().Ok());
}

DWORD ReadFirstRun(const QString& prefix) {
    std::wstring strError;
    auto pTarget = Platform::CTarget::OpenWinePrefix(prefix.toStdString(), strError);
    Platform::CRegKey key;
    DWORD dwType = 0;
    Platform::CRegBytes data;
    if (pTarget == nullptr ||
        pTarget->Registry().OpenKey(HKEY_LOCAL_MACHINE, kCorvaneKey, KEY_READ | kCorvaneKeyView, &key) != ERROR_SUCCESS ||
        key.QueryValue(L"FirstRun", &dwType, &data) != ERROR_SUCCESS || data.size() != 4) {
        return 0xFFFFFFFF;
    }
    return data[0];
}

// Log messages, as the logger would get them.
class CLogLines : public IObserver {
public:
    void Processmessage(CMessage* pMessage) override {
        m_lines << QString::fromStdWString(static_cast<CLogMessage*>(pMessage)->m_strText);
    }
    QStringList m_lines;
};

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;
    QTemporaryDir m_dir;
    QString m_prefix;
    QString m_strFound;  // the log line of a scan of the demo
    CSingleInstance m_client{qEnvironmentVariable("XDG_RUNTIME_DIR")};

    // Starts the program; it must still run.
    std::unique_ptr<QProcess> Start(const QStringList& args) {
        auto pProcess = std::make_unique<QProcess>();
        pProcess->setProcessChannelMode(QProcess::ForwardedChannels);
        pProcess->start(Program(), args);
        pProcess->waitForStarted();
        return pProcess;
    }
    // Runs the program to its end (a start that hands over must end at once); its exit status.
    int RunToEnd(const QStringList& args) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(Program(), args);
        if (!process.waitForFinished(60000)) {
            process.kill();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    void WaitForInstance() { QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_client.SocketPath()), 60000); }
    void Exit(QProcess& process) {
        QVERIFY(m_client.Post(kCmdExit));
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
    }

private slots:
    void initTestCase() {
        QVERIFY(QFile::exists(Program()));
        m_prefix = CorvaneTest::MakeDemo(m_dir);
        m_strFound = QString("Scan finished: %1 problem(s) found.").arg(CorvaneTest::DemoFindings(m_prefix));
    }

    void ScanSwitchScansAtOnce() {
        const int nBefore = m_home.Log().count(m_strFound);
        auto pProcess = Start({"--prefix", m_prefix, "-scan"});
        QTRY_COMPARE_WITH_TIMEOUT(m_home.Log().count(m_strFound), nBefore + 1, kLong);
        Exit(*pProcess);
    }

    void LaterStartsHandOverToTheInstance() {
        auto pFirst = Start({"--prefix", m_prefix});
        WaitForInstance();
        const qint64 nPid = LockOwner();
        QCOMPARE(nPid, pFirst->processId());
        const int nBefore = m_home.Log().count(m_strFound);
        // A plain start brings the instance to the front and ends.
        QCOMPARE(RunToEnd({"--prefix", m_prefix}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_home.Log().contains("Window command 32778 from another start"), kSlow);
        // The scheduled start makes it scan.
        QCOMPARE(RunToEnd({"-shed"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_home.Log().contains("Window command 32779 from another start"), kSlow);
        QTRY_COMPARE_WITH_TIMEOUT(m_home.Log().count(m_strFound), nBefore + 1, kLong);
        QCOMPARE(LockOwner(), nPid);
        Exit(*pFirst);
    }

    void ScheduledStartWithoutInstanceStartsOneThatScans() {
        QVERIFY(!Alive(LockOwner()));
        const int nBefore = m_home.Log().count(m_strFound);
        QProcess shed;
        shed.start(Program(), {"--prefix", m_prefix, "-shed"});
        QVERIFY(shed.waitForFinished(60000));
        QCOMPARE(shed.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(Alive(LockOwner()), 60000);
        const qint64 nPid = LockOwner();
        QVERIFY(nPid != shed.processId());
        QVERIFY(CommandLineOf(nPid).contains("-scan"));
        QVERIFY(CommandLineOf(nPid).contains(m_prefix.toUtf8()));
        QTRY_COMPARE_WITH_TIMEOUT(m_home.Log().count(m_strFound), nBefore + 1, kLong);
        QVERIFY(m_client.Post(kCmdExit));
        QTRY_VERIFY_WITH_TIMEOUT(!Alive(nPid), 60000);
    }

    void LockOfADeadInstanceIsFree() {
        auto pFirst = Start({"--prefix", m_prefix});
        WaitForInstance();
        pFirst->kill();  // SIGKILL: lock file and socket stay behind
        QVERIFY(pFirst->waitForFinished());
        QVERIFY(QFile::exists(m_client.LockPath()));
        const int nBefore = m_home.Log().count(m_strFound);
        auto pSecond = Start({"--prefix", m_prefix, "-scan"});
        QTRY_COMPARE_WITH_TIMEOUT(m_home.Log().count(m_strFound), nBefore + 1, kLong);
        QCOMPARE(LockOwner(), pSecond->processId());
        Exit(*pSecond);
    }

    void FirstRunScansOnceAndIsReset() {
        WriteFirstRun(m_prefix, 1);
        const int nBefore = m_home.Log().count(m_strFound);
        auto pProcess = Start({"--prefix", m_prefix});
        QTRY_COMPARE_WITH_TIMEOUT(m_home.Log().count(m_strFound), nBefore + 1, kLong);
        Exit(*pProcess);
        QCOMPARE(ReadFirstRun(m_prefix), DWORD(0));
        // The next start opens without a scan.
        pProcess = Start({"--prefix", m_prefix});
        WaitForInstance();
        QTest::qWait(1500);
        QCOMPARE(m_home.Log().count(m_strFound), nBefore + 1);
        Exit(*pProcess);
    }

    void FirstRunStaysWhenTheRegistryCannotBeWritten() {
        QTemporaryDir dir;
        const QString prefix = CorvaneTest::MakeDemo(dir);
        WriteFirstRun(prefix, 1);
        CorvaneTest::AddUnreadableLine(prefix);
        std::wstring strError;
        auto pTarget = Platform::CTarget::OpenWinePrefix(prefix.toStdString(), strError);
        QVERIFY(pTarget != nullptr);
        CMessageManager messages;
        CLogLines log;
        messages.Subscribe(CLogMessage::kType, &log);
        QVERIFY(TakeFirstRun(*pTarget, *messages.GetSink()));
        CMessageRunnerData(&messages).DrainQueue();
        messages.Unsubscribe(CLogMessage::kType, &log);
        QCOMPARE(log.m_lines.size(), 1);
        QVERIFY(log.m_lines[0].contains("FirstRun is set but stays so"));
        QCOMPARE(ReadFirstRun(prefix), DWORD(1));
    }

    void InstanceTakesOnlyWindowCommands() {
        QTemporaryDir dir;
        CSingleInstance instance(dir.path());
        QVERIFY(instance.TryLock());
        QVERIFY(!CSingleInstance(dir.path()).TryLock());
        QVERIFY(instance.Listen());
        QSignalSpy spy(&instance, &CSingleInstance::CommandReceived);
        QLocalSocket socket;
        socket.connectToServer(instance.SocketPath());
        QVERIFY(socket.waitForConnected(5000));
        socket.write("hello\n1234\n32779\n-1\n32782\n");
        QVERIFY(socket.waitForBytesWritten(5000));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kSlow);
        QCOMPARE(spy[0][0].toInt(), kCmdStartScan);
        QCOMPARE(spy[1][0].toInt(), kCmdExit);
        instance.Unlock();
        QVERIFY(CSingleInstance(dir.path()).TryLock());
        QVERIFY(!CSingleInstance(dir.path() + "/none").Post(kCmdOpen, 200));
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
