#pragma once

#include "platform/winsockerrors.h"

#include <QString>

#include <cstdint>
#include <netinet/in.h>

namespace framework {
class NoticeSink;
}

namespace platform::winsock {

// A Winsock 1.1-shaped socket layer over POSIX sockets. Sockets are IPv4, non-blocking and
// close-on-exec. Every call that fails returns kSocketError (or kInvalidSocket) and leaves a Winsock
// error number in lastError(). All calls are for the GUI thread, which also receives the notices.

using Socket = int;
constexpr Socket kInvalidSocket = -1;
constexpr int kSocketError = -1;

// Notice events of asyncSelect(), as bits of the mask and as the low 16 bits of a notice's
// lParam (the high 16 bits carry an error number).
enum : long
{
    FD_READ = 1,
    FD_WRITE = 2,
    FD_OOB = 4,
    FD_ACCEPT = 8,
    FD_CONNECT = 16,
    FD_CLOSE = 32,
};

constexpr uint32_t kAnyAddress = 0; // INADDR_ANY
constexpr uint32_t kNoneAddress = 0xFFFFFFFF; // INADDR_NONE, inetAddr()'s failure value

// The start-up record of the library.
struct WsaData
{
    uint16_t version = 0; // low byte major, high byte minor, as MAKEWORD(major, minor)
    uint16_t highVersion = 0; // the highest version this layer offers
    char description[257] = {};
    char systemStatus[129] = {};
    uint16_t maxSockets = 0;
    uint16_t maxUdpDatagram = 0;
};

constexpr uint16_t makeVersion(uint8_t major, uint8_t minor)
{
    return uint16_t(major | (minor << 8));
}

// Starts the library for one user: 0 on success, else an error number (WSAVERNOTSUPPORTED for a
// request below 1.1). Every successful start-up must be matched by one cleanup().
int startup(uint16_t requestedVersion, WsaData &data);
// Ends one user's start-up; kSocketError with WSANOTINITIALISED when none is outstanding.
int cleanup();
// Start-ups not yet cleaned up (the library is active while this is above 0).
int startupCount();

// af must be AF_INET; type SOCK_DGRAM or SOCK_STREAM; protocol 0 or the type's own.
Socket socket(int af, int type, int protocol);
int closeSocket(Socket socket);
// address and port in network byte order.
int bind(Socket socket, uint32_t address, uint16_t port);
int listen(Socket socket, int backlog);
// Non-blocking: kSocketError with WSAEWOULDBLOCK while the connection is being made; FD_CONNECT
// (with its error) follows as a notice when the socket is under asyncSelect().
int connect(Socket socket, const sockaddr_in &address);
// The accepted socket inherits the listener's notices. peer may be null.
Socket accept(Socket socket, sockaddr_in *peer);
int send(Socket socket, const void *data, int length);
int recv(Socket socket, void *buffer, int length, int flags = 0);
int sendTo(Socket socket, const void *data, int length, const sockaddr_in &to);
// A datagram longer than length fills the buffer and is reported as kSocketError with
// WSAEMSGSIZE, as Winsock does; the rest of it is discarded.
int recvFrom(Socket socket, void *buffer, int length, sockaddr_in *from);
int setLinger(Socket socket, bool on, uint16_t seconds);
int setBroadcast(Socket socket, bool on);
// The local address and port (network byte order) the socket is bound to.
int localName(Socket socket, sockaddr_in &address);

// Asks for notices: each event in events is posted to sink as `message` with wParam = the socket
// and lParam = makeLParam(event, error), once per occurrence, re-enabled by the call that consumes
// it (recv/recvFrom for FD_READ, accept for FD_ACCEPT, a send that would block for FD_WRITE).
// events 0 switches notices off. A destroyed sink simply receives nothing. Notices still queued
// when the socket is closed or selected again are dropped, so a socket reopened under the same
// descriptor number never hears about the one before it.
int asyncSelect(Socket socket, framework::NoticeSink *sink, uint32_t message, long events);

// inet_addr(): dotted IPv4 text (also the shorter and octal/hex forms, and a valid address
// followed by white space and any text) to a network-order address; kNoneAddress when it is not
// an address (so "255.255.255.255" is indistinguishable from a failure, as with inet_addr).
uint32_t inetAddr(const QString &text);
// "%d.%d.%d.%d" of a network-order address.
QString dottedText(uint32_t networkOrderAddress);

} // namespace platform::winsock
