// One instance of the program per user. A lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR) decides which process is the instance; a lock whose owner has died counts
// as free. The instance listens on a local socket beside it for the window commands that later
// starts post to it; a command is posted, never answered.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace Branwick::Wnd {

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    // strFolder: where the lock and the socket live (empty: the user's runtime folder).
    explicit CSingleInstance(QString strFolder = {});
    ~CSingleInstance() override;

    // Takes the lock without waiting. True when this process is now the instance; false when a
    // live process holds it (or the folder cannot be written: then no instance can be had).
    bool TryLock();
    // Gives the lock up (the process stays running); nothing when it is not held.
    void Unlock();
    // Listens for commands; call after TryLock succeeded. False when the socket cannot be made.
    bool Listen();

    // Posts nCommand to the running instance. Waits up to nWaitMs for it to listen (it may be
    // starting). False when no instance took it.
    bool Post(int nCommand, int nWaitMs = 5000) const;

    QString LockPath() const;
    QString SocketPath() const;

signals:
    // A command another process posted; on the interface thread.
    void CommandReceived(int nCommand);

private:

    QString m_strFolder;
    std::unique_ptr<QLockFile> m_pLock;
    QLocalServer m_server;
};

}  // namespace Branwick::Wnd
