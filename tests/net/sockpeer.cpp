#include "sockpeer.h"

#include "platform/winsock.h"
#include "support/eventwait.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

uint16_t boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

int listenOnLoopback(int backlog, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const sockaddr_in address = loopback(0);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::listen(fd, backlog);
    return fd;
}

// Starts a non-blocking connect and tells whether it completes within ms.
bool connectsWithin(int fd, uint16_t port, int ms)
{
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return true;
    pollfd entry { fd, POLLOUT, 0 };
    return ::poll(&entry, 1, ms) == 1;
}

} // namespace

LoopbackServer::LoopbackServer(int receiveBuffer)
{
    m_listener = listenOnLoopback(5, receiveBuffer);
    m_port = boundPort(m_listener);
}

LoopbackServer::~LoopbackServer()
{
    closeClient();
    ::close(m_listener);
}

bool LoopbackServer::acceptClient(int timeoutMs)
{
    const bool accepted = waitUntil(
        [this] {
            m_client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            return m_client >= 0;
        },
        timeoutMs);
    if (!accepted)
        return false;
    m_notifier = std::make_unique<QSocketNotifier>(m_client, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readClient(); });
    return true;
}

void LoopbackServer::send(const QByteArray &bytes)
{
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::send(m_client, bytes.constData() + offset, size_t(bytes.size() - offset), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        offset += n;
    }
}

void LoopbackServer::setReading(bool on)
{
    if (m_notifier)
        m_notifier->setEnabled(on);
}

void LoopbackServer::closeClient()
{
    m_notifier.reset();
    if (m_client >= 0)
        ::close(m_client);
    m_client = -1;
}

void LoopbackServer::readClient()
{
    char buffer[65536];
    const ssize_t n = ::recv(m_client, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) {
        if (n == 0)
            m_notifier->setEnabled(false);
        return;
    }
    m_received.append(buffer, n);
    if (!responder)
        return;
    qsizetype end;
    while ((end = m_received.indexOf('\n', m_answered)) >= 0) {
        const QByteArray line = m_received.mid(m_answered, end + 1 - m_answered);
        m_answered = end + 1;
        send(responder(line));
    }
}

FullBacklog::FullBacklog()
{
    m_listener = listenOnLoopback(0, 0);
    m_port = boundPort(m_listener);
    // Fill the queue: the attempt that no longer completes shows it is full.
    for (int i = 0; i < 8; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        m_fillers.push_back(fd);
        if (!connectsWithin(fd, m_port, 200))
            break;
    }
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_fillers.push_back(probe);
    m_hangs = !connectsWithin(probe, m_port, 300);
}

FullBacklog::~FullBacklog()
{
    for (int fd : m_fillers)
        ::close(fd);
    ::close(m_listener);
}

ListenSock::ListenSock(QObject *owner)
    : TSockBase(owner)
{
    namespace ws = platform::winsock;
    ws::bind(SocketHandle(), htonl(INADDR_LOOPBACK), 0);
    ws::listen(SocketHandle(), 5);
    sockaddr_in local {};
    ws::localName(SocketHandle(), local);
    m_port = ntohs(local.sin_port);
}

void connectBounded(net::TSockBase &sock, uint16_t port, int safetyMs)
{
    sock.setHost(QStringLiteral("127.0.0.1"));
    sock.setPort(port);
    const auto safety = cancelAfter(sock, safetyMs);
    sock.Connect();
}

std::unique_ptr<QObject> cancelAfter(net::TSockBase &sock, int ms)
{
    QPointer<net::TSockBase> target(&sock);
    auto context = std::make_unique<QObject>();
    QTimer::singleShot(ms, context.get(), [target] {
        if (target)
            target->Cancel();
    });
    return context;
}

} // namespace testsupport
