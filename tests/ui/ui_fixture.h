// Test support for the interface tests: a private home (settings, runtime folder, logs) and the
// application core of a fresh demo prefix, as the program makes it.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>

#include "app/ThreadManager.h"
#include "core/MessageBox.h"
#include "core/MessageManager.h"
#include "platform/demo/demo.h"
#include "ui/App/TargetCore.h"

namespace CorvaneTest {

// Qt's raster engine hands large fills to QtGui's own pool of threads. QApplication waits for
// them, but a pool thread may still be ending (its thread data held only by its own thread-local
// storage) when main returns, and LeakSanitizer, which looks at exit, then reports that data as
// leaked. Destroyed after main's QApplication, this waits until no other thread is left (at most
// five seconds) before the leak check runs.
struct SOtherThreadsGone {
    ~SOtherThreadsGone() {
        const auto others = [] {
            std::error_code error;
            const std::filesystem::directory_iterator tasks("/proc/self/task", error);
            return error ? 0 : std::distance(tasks, std::filesystem::directory_iterator()) - 1;
        };
        for (int i = 0; i < 500 && others() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};
inline SOtherThreadsGone g_otherThreadsGone;

// HOME, the XDG folders and the log folder in a temporary folder, for this process and the
// programs it starts.
class CPrivateHome {
public:
    CPrivateHome() {
        const QString home = m_dir.path();
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());
        qputenv("XDG_DATA_HOME", (home + "/.local/share").toUtf8());
        qputenv("XDG_STATE_HOME", (home + "/.local/state").toUtf8());
        qputenv("XDG_RUNTIME_DIR", (home + "/run").toUtf8());
        qputenv("CORVANE_LOG_DIR", (home + "/logs").toUtf8());
        qunsetenv("WINEPREFIX");
        QDir().mkpath(home + "/run");
        QFile::setPermissions(home + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString Path() const { return m_dir.path(); }
    // Logger.log as text (it is UTF-16LE).
    QString Log() const {
        QFile file(m_dir.path() + "/logs/Logger.log");
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        const QByteArray bytes = file.readAll();
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    }

private:
    QTemporaryDir m_dir;
};

// The number of findings a scan of the demo prefix in prefix must report.
inline int DemoFindings(const QString& prefix) {
    Branwick::Platform::CDemoExpectations expected;
    std::wstring strError;
    if (!Branwick::Platform::LoadDemoExpectations(prefix.toStdString(), expected, strError)) {
        qFatal("demo expectations: %ls", strError.c_str());
    }
    return static_cast<int>(expected.m_vcFindings.size());
}

// A demo prefix in a temporary folder.
inline QString MakeDemo(const QTemporaryDir& dir) {
    const QString prefix = dir.path() + "/prefix";
    std::wstring strError;
    if (!Branwick::Platform::MakeDemoPrefix(prefix.toStdString(), nullptr, strError)) {
        qFatal("demo prefix: %ls", strError.c_str());
    }
    return prefix;
}

// Puts a value before the first key of user.reg: a line the registry cannot place, so that it
// refuses to write the file.
inline void AddUnreadableLine(const QString& prefix) {
    QFile file(prefix + "/user.reg");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    text.insert(text.indexOf('\n') + 1, "\"Orphan\"=\"value\"\n");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// The bus, the threads and the core of a demo prefix; boxes are recorded.
class CDemoCore {
public:
    // prepare, when given, may change the demo prefix before it is opened.
    explicit CDemoCore(const std::function<void(const QString&)>& prepare = nullptr) {
        m_messages.Subscribe(Branwick::CFinishThreadMessage::kType, &m_threads);
        m_threads.StartThread(&Branwick::CMessageRunnerData::MessageRunnerProc,
                              std::make_unique<Branwick::CMessageRunnerData>(&m_messages));
        m_strPrefix = MakeDemo(m_dir);
        if (prepare) {
            prepare(m_strPrefix);
        }
        std::wstring strError;
        auto pTarget = Branwick::Platform::CTarget::OpenWinePrefix(m_strPrefix.toStdString(), strError);
        if (pTarget == nullptr) {
            qFatal("demo prefix: %ls", strError.c_str());
        }
        m_pPrevious = Branwick::SetMessageBox(&m_box);
        m_pCore = std::make_unique<Branwick::Wnd::CTargetCore>(m_messages, m_threads, std::move(pTarget), m_box);
    }
    ~CDemoCore() {
        // Workers first: a scan still running works on the core's target.
        m_threads.StopAllThreads();
        m_pCore.reset();
        m_messages.Unsubscribe(Branwick::CFinishThreadMessage::kType, &m_threads);
        Branwick::SetMessageBox(m_pPrevious);
    }
    Branwick::Wnd::SPageSite& Site() { return m_pCore->Site(); }
    Branwick::CScanSession& Session() { return m_pCore->Session(); }
    Branwick::CMessageManager& Messages() { return m_messages; }
    Branwick::CRecordingMessageBox& Box() { return m_box; }
    const QString& Prefix() const { return m_strPrefix; }
    int Findings() const { return DemoFindings(m_strPrefix); }

private:
    QTemporaryDir m_dir;
    QString m_strPrefix;
    Branwick::CMessageManager m_messages;
    Branwick::CThreadManager m_threads;
    Branwick::CRecordingMessageBox m_box;
    Branwick::IMessageBox* m_pPrevious = nullptr;
    std::unique_ptr<Branwick::Wnd::CTargetCore> m_pCore;
};

}  // namespace CorvaneTest
