#include "net/udpsock.h"

#include "framework/application.h"
#include "net/portrange.h"
#include "net/winsockerrortext.h"

#include <QByteArray>
#include <QPointer>

#include <cstring>

namespace net {

namespace ws = platform::winsock;

namespace {

const QString kWindowClass = QStringLiteral("TUDPSockWindow");
const QString kInitializingWinsock = QStringLiteral("Initializing Winsock");
const QString kHostLookupCanceled = QStringLiteral("Host Lookup Canceled");
const QString kSendingData = QStringLiteral("Sending Data");
const QString kInvalidStream = QStringLiteral("Invalid stream");
const QString kCheckingError = QStringLiteral("Checking Error In Error Manager");
const QString kUnknownErrorNo = QStringLiteral("Unknown Error No. ");
const QString kLookingUpErrorMessage = QStringLiteral("Looking Up Error Message");
const QString kNullRemoteAddress = QStringLiteral("Null Remote Address");
const QString kFreedByHandler = QStringLiteral("UDP component destroyed by an event handler");

constexpr uint16_t kRequestedVersion = ws::makeVersion(1, 1);

} // namespace

TUDPSock::TUDPSock(QObject *owner)
    : TComponent(owner)
{
    m_window = std::make_unique<framework::NoticeSink>(
        kWindowClass, this, [this](const framework::Notice &notice) { SocketWindowProc(notice); });
    m_reportLevel = 1;
    (void)ReportStatus(8, kInitializingWinsock); // no handler can be assigned yet
    const int started = ws::startup(kRequestedVersion, m_wsaData);
    if (started != 0) {
        ws::setLastError(started);
        CheckSocketError();
    } else {
        m_libraryStarted = true;
        createSocket();
    }
    m_active = true;
}

TUDPSock::~TUDPSock()
{
    markDestroying();
    m_window.reset();
    closeSocket();
    if (m_libraryStarted)
        ws::cleanup();
}

void TUDPSock::setRemoteHost(const QString &host)
{
    if (host.size() > kMaxRemoteHostLength)
        throw UDPSockError(QStringLiteral("Remote host name too long: %1 characters, at most %2 are allowed")
                               .arg(host.size())
                               .arg(kMaxRemoteHostLength));
    m_remoteHost = host;
}

void TUDPSock::createSocket()
{
    m_socket = ws::socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socket == ws::kInvalidSocket) {
        // Shut the library down first, so that a failed creation leaves the start-up count balanced.
        const int error = ws::lastError();
        ws::cleanup();
        m_libraryStarted = false;
        ws::setLastError(error);
        CheckSocketError();
    }
}

void TUDPSock::closeSocket()
{
    if (m_socket != ws::kInvalidSocket) {
        ws::closeSocket(m_socket);
        m_socket = ws::kInvalidSocket;
    }
    m_bound = false;
}

void TUDPSock::setRemotePort(int port)
{
    checkPortRange<UDPSockError>(port);
    m_remotePort = port;
}

void TUDPSock::setLocalPort(int port)
{
    checkPortRange<UDPSockError>(port);
    closeSocket();
    if (m_libraryStarted) {
        ws::cleanup();
        m_libraryStarted = false;
    }
    const int started = ws::startup(kRequestedVersion, m_wsaData);
    if (started != 0) {
        ws::setLastError(started);
        CheckSocketError();
        return;
    }
    m_libraryStarted = true;
    createSocket();
    m_localPort = port;
    BindSocket();
}

void TUDPSock::Loaded()
{
    TComponent::Loaded();
    BindSocket();
}

void TUDPSock::BindSocket()
{
    if (m_socket == ws::kInvalidSocket)
        return;
    // A socket binds once: after a stored LocalPort has bound it, the after-loading notification
    // only asks for the notices again (a second bind would fail although the socket works).
    if (m_bound) {
        ws::asyncSelect(m_socket, m_window.get(), SocketMessage, ws::FD_READ);
        return;
    }
    if (ws::bind(m_socket, ws::kAnyAddress, htons(uint16_t(m_localPort))) != 0) {
        m_lastErrorNo = ws::lastError();
        const QString reason = m_lastErrorNo == ws::WSAEADDRINUSE
            ? QStringLiteral("UDP port %1 is already in use by another program").arg(uint16_t(m_localPort))
            : QStringLiteral("Cannot use UDP port %1: %2")
                  .arg(uint16_t(m_localPort))
                  .arg(winsockErrorText(uint16_t(m_lastErrorNo)));
        // Reported, not raised: the caller (often a settings change) carries on, and the next
        // LocalPort assignment tries again.
        framework::Application::handleException(this, std::make_exception_ptr(UDPSockError(reason)));
    } else {
        m_bound = true;
    }
    ws::asyncSelect(m_socket, m_window.get(), SocketMessage, ws::FD_READ);
}

bool TUDPSock::ReportStatus(int level, const QString &text)
{
    if (level > m_reportLevel)
        return true;
    m_lastStatus = text;
    return fire(OnStatus, this, text);
}

void TUDPSock::CheckSocketError()
{
    const int error = ws::lastError();
    if (!ReportStatus(16, kCheckingError))
        throw UDPSockError(kFreedByHandler);
    m_lastErrorNo = error;
    if (error == ws::WSAEWOULDBLOCK)
        return;
    const QString message = kUnknownErrorNo + (error == 0 ? QString() : QString::number(error));
    if (!ReportStatus(8, kLookingUpErrorMessage + message))
        throw UDPSockError(kFreedByHandler);
    fire(OnError, this, error, message);
    throw UDPSockError(message);
}

void TUDPSock::ResolveRemoteHost()
{
    const uint32_t dotted = ws::inetAddr(m_remoteHost);
    if (dotted != ws::kNoneAddress) {
        m_remoteAddress = dotted;
        return;
    }
    const QString name = m_remoteHost;
    const QPointer<TUDPSock> self(this);
    int failures = 0;
    for (;;) {
        auto started = std::make_unique<PendingLookup>();
        const PendingLookup &lookup = *started;
        const uintptr_t handle
            = platform::winsock::asyncGetHostByName(name, m_window.get(), SocketMessage, &started->result);
        m_lookups[handle] = std::move(started);
        while (!lookup.done) {
            framework::Application::waitForMessages();
            if (!self) // a handler run by the wait destroyed this component
                throw UDPSockError(kHostLookupCanceled);
        }
        const bool found = lookup.succeeded && !lookup.result.addresses.empty();
        if (found)
            m_remoteAddress = lookup.result.addresses.front();
        m_lookups.erase(handle); // lookup is gone from here on
        if (found)
            return;
        if (failures > 0)
            throw UDPSockError(kHostLookupCanceled);
        failures = 1;
        bool handled = false;
        if (!fire(OnInvalidHost, handled) || !handled)
            throw UDPSockError(kHostLookupCanceled);
    }
}

void TUDPSock::SendStream(framework::MemoryStream &stream)
{
    bool askedForData = false;
    while (stream.size() == 0) {
        if (askedForData || !OnStreamInvalid)
            throw framework::Exception(kInvalidStream);
        askedForData = true;
        bool handled = false;
        if (!fire(OnStreamInvalid, handled, stream))
            throw UDPSockError(kFreedByHandler);
        if (!handled)
            throw framework::Exception(kInvalidStream);
    }
    if (stream.size() > kBufferSize)
        throw UDPSockError(
            QStringLiteral("Datagram too long: %1 bytes, at most %2 can be sent").arg(stream.size()).arg(kBufferSize));
    ResolveRemoteHost();
    // Held for this send: a handler run by the status report may send elsewhere, which
    // resolves into the shared field again.
    const uint32_t address = m_remoteAddress;
    if (address == 0)
        throw UDPSockError(kNullRemoteAddress);
    if (!ReportStatus(2, kSendingData))
        throw UDPSockError(kFreedByHandler);

    sockaddr_in remote {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(uint16_t(m_remotePort));
    remote.sin_addr.s_addr = address;
    stream.setPosition(0);
    const int length = int(stream.read(m_sendBuffer.data(), kBufferSize));
    // A datagram the system refuses or loses is not reported: UDP makes no promise of delivery.
    ws::sendTo(m_socket, m_sendBuffer.data(), length, remote);
    fire(OnDataSend, this);
}

void TUDPSock::ReadStream(framework::MemoryStream &stream) const
{
    stream.write(m_receiveBuffer.data(), m_receivedLength);
    stream.setPosition(0);
}

void TUDPSock::SocketWindowProc(const framework::Notice &notice)
{
    if (!m_active || notice.message != SocketMessage)
        return;
    if (framework::lowWord(notice.lParam) == ws::FD_READ) {
        ProcessIncoming();
    } else {
        const auto found = m_lookups.find(notice.wParam);
        if (found == m_lookups.end())
            return;
        found->second->done = true;
        found->second->succeeded = framework::highWord(notice.lParam) == 0;
    }
}

void TUDPSock::ProcessIncoming()
{
    if (m_socket == ws::kInvalidSocket)
        return;
    sockaddr_in from {};
    const int received = ws::recvFrom(m_socket, m_receiveBuffer.data(), kBufferSize, &from);
    if (received < 0) {
        m_receivedLength = 0;
        const int error = ws::lastError();
        // A notice left over from a socket closed by a re-bind finds nothing to read.
        if (error == ws::WSAEWOULDBLOCK)
            return;
        // A failed receive, or a datagram longer than the buffer, is never handed on as data.
        m_lastErrorNo = error;
        (void)ReportStatus(16, QStringLiteral("Datagram dropped: ") + winsockErrorText(uint16_t(error)));
        return;
    }
    m_receivedLength = received;
    fire(OnDataReceived, this, received, ws::dottedText(from.sin_addr.s_addr));
}

} // namespace net
