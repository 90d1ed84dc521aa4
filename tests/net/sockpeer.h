#pragma once

#include "net/sockbase.h"

#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace testsupport {

// A TCP server on 127.0.0.1 made of plain POSIX sockets, for the socket component's tests. It runs
// from the event loop (the component's waits serve it): received bytes collect in received(), and
// a responder, when set, answers each received line.
class LoopbackServer : public QObject
{
public:
    // receiveBuffer > 0 shrinks the accepted connection's receive buffer (set before listening).
    explicit LoopbackServer(int receiveBuffer = 0);
    ~LoopbackServer() override;

    uint16_t port() const { return m_port; } // host order
    // Accepts one pending connection, serving events up to timeoutMs.
    bool acceptClient(int timeoutMs = 3000);
    bool hasClient() const { return m_client >= 0; }
    // Blocking send of all bytes to the client.
    void send(const QByteArray &bytes);
    // Stops (or resumes) reading from the client, so that its buffers fill up.
    void setReading(bool on);
    void closeClient();

    const QByteArray &received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    std::function<QByteArray(const QByteArray &line)> responder;

private:
    void readClient();

    int m_listener = -1;
    int m_client = -1;
    uint16_t m_port = 0;
    QByteArray m_received;
    qsizetype m_answered = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// A listener on 127.0.0.1 whose accept queue is full: a further connection attempt gets no
// answer and stays pending. hangs() tells whether that was verified on this system.
class FullBacklog
{
public:
    FullBacklog();
    ~FullBacklog();
    uint16_t port() const { return m_port; }
    bool hangs() const { return m_hangs; }

private:
    int m_listener = -1;
    std::vector<int> m_fillers;
    uint16_t m_port = 0;
    bool m_hangs = false;
};

// A socket component that listens on 127.0.0.1 (an ephemeral port) for Accept.
class ListenSock : public net::TSockBase
{
public:
    explicit ListenSock(QObject *owner = nullptr);
    uint16_t port() const { return m_port; } // host order

private:
    uint16_t m_port = 0;
};

// Connects sock to 127.0.0.1:port, with Cancel as a safety net so that a fault fails the test
// instead of hanging it.
void connectBounded(net::TSockBase &sock, uint16_t port, int safetyMs = 3000);

// Calls sock.Cancel() after ms, unless sock or the returned guard is gone by then.
[[nodiscard]] std::unique_ptr<QObject> cancelAfter(net::TSockBase &sock, int ms);

} // namespace testsupport
