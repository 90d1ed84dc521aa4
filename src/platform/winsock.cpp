#include "platform/winsock.h"

#include "platform/asyncselect.h"

#include <QByteArray>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::winsock {

namespace {

int g_startups = 0;

int fail(int error)
{
    setLastError(error);
    return kSocketError;
}

int failErrno()
{
    return fail(fromErrno(errno));
}

template<typename Result> Result succeed(Result result)
{
    setLastError(0);
    return result;
}

void copyText(char *target, size_t capacity, const char *text)
{
    std::strncpy(target, text, capacity - 1);
    target[capacity - 1] = '\0';
}

uint16_t maxSockets()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    return uint16_t(std::min<rlim_t>(limit.rlim_cur, 0xFFFF));
}

} // namespace

int startup(uint16_t requestedVersion, WsaData &data)
{
    const uint8_t major = requestedVersion & 0xFF;
    const uint8_t minor = requestedVersion >> 8;
    data = WsaData {};
    data.highVersion = makeVersion(1, 1);
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    data.version = makeVersion(1, 1);
    copyText(data.description, sizeof data.description, "POSIX sockets (Winsock 1.1 interface)");
    copyText(data.systemStatus, sizeof data.systemStatus, "Running");
    data.maxSockets = maxSockets();
    data.maxUdpDatagram = 65507;
    // A write to a connection the peer has closed must fail with an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    ++g_startups;
    return 0;
}

int cleanup()
{
    if (g_startups == 0)
        return fail(WSANOTINITIALISED);
    --g_startups;
    return succeed(0);
}

int startupCount()
{
    return g_startups;
}

Socket socket(int af, int type, int protocol)
{
    if (af != AF_INET)
        return fail(WSAEAFNOSUPPORT);
    if (type != SOCK_DGRAM && type != SOCK_STREAM)
        return fail(WSAESOCKTNOSUPPORT);
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return failErrno();
    return succeed(fd);
}

int closeSocket(Socket socket)
{
    AsyncSelect::remove(socket);
    if (::close(socket) != 0)
        return failErrno();
    return succeed(0);
}

int bind(Socket socket, uint32_t address, uint16_t port)
{
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = port;
    if (::bind(socket, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        return failErrno();
    return succeed(0);
}

int listen(Socket socket, int backlog)
{
    if (::listen(socket, backlog) != 0)
        return failErrno();
    if (AsyncSelect *select = AsyncSelect::find(socket))
        select->rearmRead();
    return succeed(0);
}

int connect(Socket socket, const sockaddr_in &address)
{
    const int result = ::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const int error = result == 0 ? 0 : errno;
    if (result != 0 && error != EINPROGRESS)
        return fail(fromErrno(error));
    if (AsyncSelect *select = AsyncSelect::find(socket))
        select->connectStarted();
    if (result != 0)
        return fail(WSAEWOULDBLOCK);
    return succeed(0);
}

Socket accept(Socket socket, sockaddr_in *peer)
{
    sockaddr_in from {};
    socklen_t length = sizeof from;
    const int fd = ::accept4(socket, reinterpret_cast<sockaddr *>(&from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int error = errno;
    AsyncSelect *select = AsyncSelect::find(socket);
    if (select)
        select->rearmRead();
    if (fd < 0)
        return fail(fromErrno(error));
    if (peer)
        *peer = from;
    if (select && select->sink()) {
        auto inherited = std::make_unique<AsyncSelect>(fd, select->sink(), select->message(), select->events());
        AsyncSelect *accepted = inherited.get();
        AsyncSelect::install(std::move(inherited));
        accepted->announceWritable();
    }
    return succeed(fd);
}

int send(Socket socket, const void *data, int length)
{
    if (length < 0)
        return fail(WSAEINVAL);
    const ssize_t n = ::send(socket, data, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            if (AsyncSelect *select = AsyncSelect::find(socket))
                select->sendBlocked();
        }
        return fail(fromErrno(error));
    }
    return succeed(int(n));
}

int recv(Socket socket, void *buffer, int length, int flags)
{
    if (length < 0)
        return fail(WSAEINVAL);
    const ssize_t n = ::recv(socket, buffer, size_t(length), flags | MSG_DONTWAIT);
    const int error = errno;
    if (AsyncSelect *select = AsyncSelect::find(socket))
        select->rearmRead();
    if (n < 0)
        return fail(fromErrno(error));
    return succeed(int(n));
}

int sendTo(Socket socket, const void *data, int length, const sockaddr_in &to)
{
    if (length < 0)
        return fail(WSAEINVAL);
    const ssize_t n = ::sendto(
        socket, data, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    if (n < 0)
        return failErrno();
    return succeed(int(n));
}

int recvFrom(Socket socket, void *buffer, int length, sockaddr_in *from)
{
    if (length < 0)
        return fail(WSAEINVAL);
    sockaddr_in sender {};
    socklen_t senderLength = sizeof sender;
    // MSG_TRUNC makes the kernel report the datagram's real length, so a cut one is noticed.
    const ssize_t n = ::recvfrom(
        socket, buffer, size_t(length), MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&sender), &senderLength);
    const int error = errno;
    if (AsyncSelect *select = AsyncSelect::find(socket))
        select->rearmRead();
    if (from)
        *from = sender;
    if (n < 0)
        return fail(fromErrno(error));
    if (n > length)
        return fail(WSAEMSGSIZE);
    return succeed(int(n));
}

int setLinger(Socket socket, bool on, uint16_t seconds)
{
    const linger value { on ? 1 : 0, seconds };
    if (::setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0)
        return failErrno();
    return succeed(0);
}

int setBroadcast(Socket socket, bool on)
{
    const int value = on ? 1 : 0;
    if (::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0)
        return failErrno();
    return succeed(0);
}

int localName(Socket socket, sockaddr_in &address)
{
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return failErrno();
    return succeed(0);
}

int asyncSelect(Socket socket, framework::NoticeSink *sink, uint32_t message, long events)
{
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0)
        return failErrno();
    if (events == 0 || !sink) {
        AsyncSelect::remove(socket);
        return succeed(0);
    }
    auto select = std::make_unique<AsyncSelect>(socket, sink, message, events);
    AsyncSelect *installed = select.get();
    AsyncSelect::install(std::move(select));
    installed->announceWritable();
    return succeed(0);
}

uint32_t inetAddr(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    if (bytes.contains('\0'))
        return inetAddr(QString::fromLatin1(bytes.left(bytes.indexOf('\0'))));
    return ::inet_addr(bytes.constData());
}

QString dottedText(uint32_t networkOrderAddress)
{
    const auto *b = reinterpret_cast<const uint8_t *>(&networkOrderAddress);
    return QString::asprintf("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

} // namespace platform::winsock
