#include "ui/App/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include "ui/App/CommandLine.h"

namespace Branwick::Wnd {

CSingleInstance::CSingleInstance(QString strFolder) : m_strFolder(std::move(strFolder)) {
    if (m_strFolder.isEmpty()) {
        m_strFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* pSocket = m_server.nextPendingConnection()) {
            connect(pSocket, &QLocalSocket::readyRead, this, [this, pSocket] {
                while (pSocket->canReadLine()) {
                    bool bOk = false;
                    const int nCommand = pSocket->readLine().trimmed().toInt(&bOk);
                    // Only the window commands; anything else on the socket is not ours to act on.
                    if (bOk && nCommand >= kCmdOpen && nCommand <= kCmdExit) {
                        emit CommandReceived(nCommand);
                    }
                }
            });
            connect(pSocket, &QLocalSocket::disconnected, pSocket, &QObject::deleteLater);
        }
    });
}

CSingleInstance::~CSingleInstance() { Unlock(); }

QString CSingleInstance::LockPath() const { return m_strFolder + "/corvane.lock"; }
QString CSingleInstance::SocketPath() const { return m_strFolder + "/corvane.socket"; }

bool CSingleInstance::TryLock() {
    QDir().mkpath(m_strFolder);
    m_pLock = std::make_unique<QLockFile>(LockPath());
    // A lock's age says nothing: an instance may run for weeks. Only a dead owner frees it.
    m_pLock->setStaleLockTime(0);
    if (!m_pLock->tryLock(0)) {
        m_pLock.reset();
        return false;
    }
    return true;
}

void CSingleInstance::Unlock() {
    m_server.close();
    m_pLock.reset();
}

bool CSingleInstance::Listen() {
    // A socket file left by a dead instance would refuse the name; we hold the lock, so it is ours.
    QLocalServer::removeServer(SocketPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(SocketPath());
}

bool CSingleInstance::Post(int nCommand, int nWaitMs) const {
    const QDeadlineTimer deadline(nWaitMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(SocketPath());
        if (socket.waitForConnected(200)) {
            socket.write(QByteArray::number(nCommand) + "\n");
            const bool bWritten = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return bWritten;
        }
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return false;
}

}  // namespace Branwick::Wnd
