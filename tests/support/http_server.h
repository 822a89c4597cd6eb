// Test support: real HTTP servers on loopback (cpp-httplib) and two misbehaving ones made of bare
// sockets: one that takes connections and never answers, one that closes them at once.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace CorvaneTest {

// A cpp-httplib server on 127.0.0.1 at a free port, serving from construction until destruction.
// Routes are added to Server() before Start().
class CLoopbackServer {
public:
    CLoopbackServer() = default;
    ~CLoopbackServer() {
        m_server.stop();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    CLoopbackServer(const CLoopbackServer&) = delete;
    CLoopbackServer& operator=(const CLoopbackServer&) = delete;

    httplib::Server& Server() { return m_server; }

    // The socket listens when this returns; requests queue until the thread takes them.
    unsigned short Start() {
        const int nPort = m_server.bind_to_any_port("127.0.0.1");
        if (nPort <= 0) {
            throw std::runtime_error("no loopback port to listen on");
        }
        m_nPort = static_cast<unsigned short>(nPort);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        return m_nPort;
    }
    unsigned short Port() const { return m_nPort; }

private:
    httplib::Server m_server;
    std::thread m_thread;
    unsigned short m_nPort = 0;
};

// A listening socket on 127.0.0.1. The kernel completes connections to it by itself, so without
// bCloseAtOnce it is a server that accepts and never says a word; with it, a thread accepts each
// connection and closes it straight away.
class CRawListener {
public:
    explicit CRawListener(bool bCloseAtOnce) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof(address);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), nLength) != 0 ||
            listen(m_fd, 16) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
            throw std::runtime_error("no loopback socket");
        }
        m_nPort = ntohs(address.sin_port);
        if (bCloseAtOnce) {
            m_thread = std::thread([this] {
                for (;;) {
                    const int fd = accept(m_fd, nullptr, nullptr);
                    if (fd < 0 || m_bStop) {
                        if (fd >= 0) {
                            close(fd);
                        }
                        return;
                    }
                    close(fd);
                }
            });
        }
    }
    ~CRawListener() {
        m_bStop = true;
        shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable()) {
            m_thread.join();
        }
        close(m_fd);
    }
    CRawListener(const CRawListener&) = delete;
    CRawListener& operator=(const CRawListener&) = delete;

    unsigned short Port() const { return m_nPort; }

private:
    int m_fd = -1;
    unsigned short m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// A port on 127.0.0.1 that nothing listens on (taken and let go at once).
inline unsigned short DeadPort() {
    const CRawListener listener(false);
    return listener.Port();
}

}  // namespace CorvaneTest
