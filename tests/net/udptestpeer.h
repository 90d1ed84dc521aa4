#pragma once

#include <QByteArray>
#include <QString>

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

// A plain POSIX UDP socket for the other end of a test, bound to address:port (port 0 = any).
class RawUdpSocket
{
public:
    explicit RawUdpSocket(const char *address = "127.0.0.1", uint16_t port = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = ::inet_addr(address);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
        const int size = 1 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    ~RawUdpSocket() { ::close(m_fd); }
    RawUdpSocket(const RawUdpSocket &) = delete;
    RawUdpSocket &operator=(const RawUdpSocket &) = delete;

    bool bound() const { return m_bound; }
    uint16_t port() const
    {
        sockaddr_in local {};
        socklen_t length = sizeof local;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length);
        return ntohs(local.sin_port);
    }
    bool sendTo(const QByteArray &bytes, uint16_t port, const char *address = "127.0.0.1") const
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = ::inet_addr(address);
        return ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to)
            == bytes.size();
    }
    // Waits up to timeoutMs for one datagram; returns null when none came.
    QByteArray receive(int timeoutMs = 2000) const
    {
        timeval tv { timeoutMs / 1000, (timeoutMs % 1000) * 1000 };
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        QByteArray buffer(70000, '\0');
        const ssize_t n = ::recv(m_fd, buffer.data(), size_t(buffer.size()), 0);
        return n < 0 ? QByteArray() : buffer.left(int(n));
    }

private:
    int m_fd = -1;
    bool m_bound = false;
};

// A UDP port that was free a moment ago.
inline uint16_t freeUdpPort()
{
    RawUdpSocket probe;
    return probe.port();
}

} // namespace testsupport
