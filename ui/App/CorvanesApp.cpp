#include "ui/App/CorvanesApp.h"

#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QProcess>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "core/Text.h"
#include "platform/demo/demo.h"
#include "ui/App/FirstRun.h"
#include "ui/MainWindow/MainWindow.h"
#include "ui/TargetChooser/TargetChooser.h"

namespace Branwick::Wnd {

namespace {

// Keys of the remembered target in the user's Qt settings.
constexpr char kLastFolder[] = "target/folder";
constexpr char kLastUser[] = "target/user";

std::unique_ptr<Platform::CTarget> Open(const std::string& strFolder, const std::string& strUser,
                                        bool bVolume, std::wstring& strError) {
    if (bVolume) {
        return Platform::CTarget::OpenOfflineVolume(strFolder, Utf8ToWide(strUser), strError);
    }
    return strUser.empty() ? Platform::CTarget::OpenWinePrefix(strFolder, strError)
                           : Platform::CTarget::Open(strFolder, Utf8ToWide(strUser), strError);
}

void Remember(QSettings& settings, const std::string& strFolder, const std::string& strUser) {
    settings.setValue(kLastFolder, QString::fromStdString(strFolder));
    settings.setValue(kLastUser, QString::fromStdString(strUser));
    settings.sync();
}

// Asks the user until a chosen target opens; null when the user gives up.
std::unique_ptr<Platform::CTarget> AskForTarget(QString strWhy, QSettings& settings, IMessageBox& box) {
    for (;;) {
        CTargetChooser chooser(strWhy, Platform::SDiscoveryRoots::FromEnvironment());
        if (chooser.exec() != QDialog::Accepted) {
            return nullptr;
        }
        const SChosenTarget chosen = chooser.Chosen();
        std::wstring strError;
        std::unique_ptr<Platform::CTarget> pTarget =
            Platform::CTarget::Open(chosen.strFolder, Utf8ToWide(chosen.strUser), strError);
        if (pTarget != nullptr) {
            Remember(settings, chosen.strFolder, chosen.strUser);
            return pTarget;
        }
        box.Show(strError, L"Corvane", MB_OK | MB_ICONEXCLAMATION);
        strWhy.clear();
    }
}

// A demo prefix in a fresh temporary folder (or the one to keep), removed at the end unless kept.
class CDemoPrefix {
public:
    explicit CDemoPrefix(const SCommandLine& line) {
        if (!line.bDemo) {
            return;
        }
        m_bKeep = line.strKeep.has_value();
        if (m_bKeep) {
            m_strFolder = *line.strKeep;
        } else {
            std::string strTemplate = (std::filesystem::temp_directory_path() / "corvane-demo-XXXXXX").string();
            if (mkdtemp(strTemplate.data()) == nullptr) {
                throw std::runtime_error("No temporary folder could be made for the demo prefix.");
            }
            m_strFolder = strTemplate;
        }
        std::wstring strError;
        if (!Platform::MakeDemoPrefix(m_strFolder, nullptr, strError)) {
            throw std::runtime_error(WideToUtf8(strError));
        }
    }
    ~CDemoPrefix() {
        if (!m_strFolder.empty() && !m_bKeep) {
            std::error_code ec;
            std::filesystem::remove_all(m_strFolder, ec);
        }
    }
    const std::string& Folder() const { return m_strFolder; }

private:
    std::string m_strFolder;
    bool m_bKeep = false;
};

}  // namespace

std::unique_ptr<Platform::CTarget> ChooseTarget(const SCommandLine& line, const std::string& strDemoFolder,
                                                QSettings& settings, IMessageBox& box) {
    std::wstring strError;
    if (!strDemoFolder.empty()) {
        return Platform::CTarget::OpenWinePrefix(strDemoFolder, strError);
    }
    if (line.HasTarget()) {
        const bool bVolume = line.strWindows.has_value();
        const std::string strFolder = bVolume ? *line.strWindows : *line.strPrefix;
        std::unique_ptr<Platform::CTarget> pTarget = Open(strFolder, line.strUser.value_or(""), bVolume, strError);
        if (pTarget != nullptr) {
            Remember(settings, strFolder, line.strUser.value_or(""));
            return pTarget;
        }
        box.Show(strError, L"Corvane", MB_OK | MB_ICONEXCLAMATION);
        return AskForTarget({}, settings, box);
    }
    const std::string strLast = settings.value(kLastFolder).toString().toStdString();
    if (!strLast.empty()) {
        const std::string strUser = settings.value(kLastUser).toString().toStdString();
        if (auto pTarget = Platform::CTarget::Open(strLast, Utf8ToWide(strUser), strError)) {
            return pTarget;
        }
    }
    if (auto pTarget = Platform::CTarget::OpenWinePrefix("", strError)) {
        return pTarget;
    }
    return AskForTarget(QObject::tr("No Wine prefix was found at $WINEPREFIX or ~/.wine (%1). Choose the "
                                    "Windows system to work on:")
                            .arg(QString::fromStdWString(strError)),
                        settings, box);
}

CCorvanesApp::CCorvanesApp() : m_messageBox(qApp) { m_pPreviousBox = SetMessageBox(&m_messageBox); }

CCorvanesApp::~CCorvanesApp() {
    Shutdown();
    SetMessageBox(m_pPreviousBox);
}

void CCorvanesApp::Shutdown() {
    // Workers may still ask for boxes while they stop; nobody could answer them now.
    const CQtMessageBox::CUnattended unattended(m_messageBox);
    m_threads.StopAllThreads();
    m_messages.Unsubscribe(CFinishThreadMessage::kType, &m_threads);
    if (m_bLogOpen) {
        m_messages.Unsubscribe(CLogMessage::kType, &m_logger);
        m_bLogOpen = false;
    }
}

int CCorvanesApp::Run(const SCommandLine& line, CSingleInstance& instance, bool& bChangeTarget) {
    bChangeTarget = false;
    if (m_logger.Open(L"")) {
        m_messages.Subscribe(CLogMessage::kType, &m_logger);
        m_bLogOpen = true;
    }
    m_messages.Subscribe(CFinishThreadMessage::kType, &m_threads);
    m_threads.StartThread(&CMessageRunnerData::MessageRunnerProc, std::make_unique<CMessageRunnerData>(&m_messages));

    QSettings settings;
    const CDemoPrefix demo(line);
    std::unique_ptr<Platform::CTarget> pTarget = ChooseTarget(line, demo.Folder(), settings, m_messageBox);
    if (pTarget == nullptr) {
        return 0;
    }
    const bool bFirstRun = TakeFirstRun(*pTarget, *m_messages.GetSink());
    CTargetCore core(m_messages, m_threads, std::move(pTarget), m_messageBox);
    CCorvanesDlg window(core.Site(), core.Session());
    window.SetStartScanWhenShown(line.eMode == EStartMode::Scan || bFirstRun);
    QObject::connect(&instance, &CSingleInstance::CommandReceived, &window, [this, &window](int nCommand) {
        m_messages.Send(std::make_unique<CLogMessage>(L"Window command " + std::to_wstring(nCommand) +
                                                      L" from another start of the program."));
        window.OnCommand(nCommand);
    });
    QObject::connect(&window, &CCorvanesDlg::ExitRequested, qApp, [] { QApplication::exit(0); });
    QObject::connect(&window, &CCorvanesDlg::ChangeTargetRequested, &window, [&] {
        if (core.Site().m_scanManager.IsScanning() || core.Site().m_scanManager.IsFixing()) {
            m_messageBox.Show(L"Wait until the scan or fix has ended before choosing another target.", L"Corvane",
                              MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        if (AskForTarget({}, settings, m_messageBox) != nullptr) {
            bChangeTarget = true;
            QApplication::exit(0);
        }
    });
    window.show();
    const int nResult = QApplication::exec();
    window.hide();
    Shutdown();
    return nResult;
}

int RunCorvane(const std::vector<std::string>& vcArgs) {
    SCommandLine line;
    try {
        line = ParseCommandLine(vcArgs);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "corvane: %s\n", e.what());
        return 2;
    }
    if (line.bHelp) {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    CSingleInstance instance;
    if (line.eMode == EStartMode::Scheduled) {
        if (instance.TryLock()) {
            // No instance runs: one that scans takes over, with the same target.
            instance.Unlock();
            QStringList arguments;
            for (const std::string& strArg : line.TargetArguments()) {
                arguments << QString::fromStdString(strArg);
            }
            QProcess process;
            process.setProgram(QApplication::applicationFilePath());
            process.setArguments(arguments << "-scan");
            // The starter's output may be a pipe that closes when it ends; the instance must not
            // die of its first warning then. Its diagnostics go to its logs.
            process.setStandardOutputFile(QProcess::nullDevice());
            process.setStandardErrorFile(QProcess::nullDevice());
            process.startDetached();
        } else {
            instance.Post(kCmdStartScan);
        }
        return 0;
    }
    if (!instance.TryLock()) {
        instance.Post(kCmdOpen);
        return 0;
    }
    if (!instance.Listen()) {
        std::fprintf(stderr, "corvane: the socket for other starts could not be made in %s\n",
                     qPrintable(instance.SocketPath()));
    }
    bool bChangeTarget = true;
    int nResult = 0;
    try {
        for (bool bFirst = true; bChangeTarget; bFirst = false) {
            CCorvanesApp app;
            // After a change of target the remembered one is opened, without the start switches.
            nResult = app.Run(bFirst ? line : SCommandLine(), instance, bChangeTarget);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane: %s\n", e.what());
        return 1;
    }
    return nResult;
}

}  // namespace Branwick::Wnd
