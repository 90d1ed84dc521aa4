#pragma once

#include "framework/component.h"
#include "framework/exception.h"
#include "framework/memorystream.h"
#include "framework/noticesink.h"
#include "platform/hostresolver.h"
#include "platform/winsock.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <unordered_map>

namespace net {

class UDPSockError : public framework::Exception
{
public:
    using Exception::Exception;
};

// One IPv4 UDP socket: binds a local port, sends a stream as one datagram to RemoteHost:RemotePort
// and reports every arriving datagram through OnDataReceived. Lives on the GUI thread; notices
// arrive through its notice sink. A send to a host name (not a dotted address) waits for the
// look-up by serving the event loop, so any handler may run inside SendStream. Any event handler
// may free the component: a send it interrupts raises UDPSockError, a notice just ends.
class TUDPSock : public framework::TComponent
{
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;
    using TOnReceive = std::function<void(QObject *Sender, int NumberBytes, const QString &FromIP)>;
    using TOnStatus = std::function<void(QObject *Sender, const QString &status)>;
    using THandlerEvent = std::function<void(bool &handled)>;
    using TStreamInvalid = std::function<void(bool &handled, framework::MemoryStream &Stream)>;
    using TBuffInvalid = std::function<void(bool &handled, QByteArray &Buff, int &length)>;
    using ErrorHook = std::function<void(QObject *Sender, int errorNumber, const QString &message)>;

    static constexpr int kBufferSize = 2048; // bytes, either direction
    static constexpr int kMaxRemoteHostLength = 128; // characters
    static constexpr uint32_t SocketMessage = framework::WM_USER + 101;

    // Starts the socket library and creates the (unbound) socket; raises UDPSockError when either
    // fails.
    explicit TUDPSock(QObject *owner = nullptr);
    ~TUDPSock() override;

    // Published properties, in stored order.
    const QString &RemoteHost() const { return m_remoteHost; }
    // Raises UDPSockError for a name over 128 characters (it would not fit the system's buffer).
    void setRemoteHost(const QString &host);
    int RemotePort() const { return m_remotePort; }
    // Ports outside 0..65535 raise UDPSockError and change nothing.
    void setRemotePort(int port);
    int LocalPort() const { return m_localPort; }
    // Re-creates the socket and binds it to port; a port outside 0..65535 raises UDPSockError before
    // anything changes. A port that cannot be bound (already taken) is
    // reported to the application's error reporting without interrupting the caller; the component
    // then has an unbound socket until the next assignment.
    void setLocalPort(int port);
    int ReportLevel() const { return m_reportLevel; }
    void setReportLevel(int level) { m_reportLevel = level; }

    TOnReceive OnDataReceived;
    TNotifyEvent OnDataSend;
    TOnStatus OnStatus;
    THandlerEvent OnInvalidHost;
    TStreamInvalid OnStreamInvalid;
    TBuffInvalid OnBufferInvalid; // published for stored forms; no operation fires it
    ErrorHook OnError; // called before a socket-library failure is raised

    // Binds the socket to LocalPort on every interface and asks for read notices.
    void BindSocket();
    // Sends the whole stream (1 to 2048 bytes) as one datagram. Raises "Invalid stream" for an
    // empty stream (unless OnStreamInvalid fills it), UDPSockError for a stream over 2048 bytes,
    // "Host Lookup Canceled" for a name that cannot be resolved, "Null Remote Address" for 0.0.0.0.
    void SendStream(framework::MemoryStream &stream);
    // Appends the last received datagram at the stream's position, then rewinds the stream.
    void ReadStream(framework::MemoryStream &stream) const;

    const QString &LastStatus() const { return m_lastStatus; }
    int LastErrorNo() const { return m_lastErrorNo; }
    // Whether the socket is bound to LocalPort (false after a failed bind).
    bool isBound() const { return m_bound; }

protected:
    void Loaded() override;

private:
    void createSocket();
    void closeSocket();
    // False when an OnStatus handler freed the component.
    [[nodiscard]] bool ReportStatus(int level, const QString &text);
    void CheckSocketError();
    void ResolveRemoteHost();
    void SocketWindowProc(const framework::Notice &notice);
    void ProcessIncoming();

    QString m_remoteHost;
    int m_remotePort = 0;
    int m_localPort = 0;
    int m_reportLevel = 1;

    std::array<char, kBufferSize> m_receiveBuffer {};
    std::array<char, kBufferSize> m_sendBuffer {};
    int m_receivedLength = 0;
    uint32_t m_remoteAddress = 0; // network byte order

    std::unique_ptr<framework::NoticeSink> m_window;
    // Each started look-up has its own result and flags, so that a send nested in another's wait
    // (from any handler) ends on its own answer, never on the other one's.
    struct PendingLookup
    {
        platform::winsock::HostEntry result;
        bool done = false;
        bool succeeded = false;
    };
    std::unordered_map<uintptr_t, std::unique_ptr<PendingLookup>> m_lookups;
    platform::winsock::WsaData m_wsaData;
    bool m_libraryStarted = false;
    bool m_active = false;
    bool m_bound = false;
    QString m_lastStatus;
    int m_lastErrorNo = 0;
    platform::winsock::Socket m_socket = platform::winsock::kInvalidSocket;
};

} // namespace net
