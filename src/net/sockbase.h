#pragma once

#include "framework/component.h"
#include "framework/exception.h"
#include "framework/memorystream.h"
#include "framework/noticesink.h"
#include "platform/hostresolver.h"
#include "platform/winsock.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

namespace net {

class TThreadTimer;

// Socket failures; the message is the text the user sees.
class ESockError : public framework::Exception
{
public:
    using Exception::Exception;
};

// An operation ended by Cancel.
class EAbortError : public ESockError
{
public:
    using ESockError::ESockError;
};

// One TCP socket driven by notices, with operations that look blocking: each one that must wait
// (look-up, connect, send, read a line, accept) serves the application's messages every 2 ms until
// a notice, its time-out or Cancel ends the wait, so any handler (also one of this component) may
// run inside it. A component destroyed by such a handler ends the wait with ESockError without
// touching its freed state. Any event handler may free the component: an operation it interrupts
// raises ESockError "Socket component destroyed by an event handler", a notice just ends. GUI
// thread only.
class TSockBase : public framework::TComponent
{
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;
    using THandlerEvent = std::function<void(bool &Handled)>;
    using TOnHostResolved = std::function<void(QObject *Sender)>;
    using TOnStatus = std::function<void(QObject *Sender, const QString &Status)>;
    using TOnSocketError = std::function<void(QObject *Sender, uint16_t Errno, const QString &Errmsg)>;

    // Messages of the hidden window.
    static constexpr uint32_t SocketMessage = framework::WM_USER + 101; // socket event notice
    static constexpr uint32_t LookupMessage = framework::WM_USER + 102; // host look-up finished
    static constexpr uint32_t WriteChunkMessage = framework::WM_USER + 103; // send the next chunk
    static constexpr uint32_t ReadChunkMessage = framework::WM_USER + 104; // receive the next chunk

    static constexpr uint16_t kNoSocket = 65535; // SocketHandle() when there is no socket
    static constexpr int kChunkSize = 16383; // bytes moved per notice, either direction
    static constexpr int kMaxHostNameLength = 127; // characters

    // Starts Winsock for the first live instance and opens the socket; raises ESockError
    // "Initializaton of windows sockets failed" when the socket cannot be set up.
    explicit TSockBase(QObject *owner = nullptr);
    ~TSockBase() override;

    // Published properties.
    const QString &Host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    int Port() const { return m_port; }
    // Ports outside 0..65535 raise ESockError and change nothing.
    void setPort(int port);
    int TimeOut() const { return m_timeOut; } // ms for look-ups and connects; 0 waits without limit
    void setTimeOut(int milliseconds) { m_timeOut = milliseconds; }
    int ReportLevel() const { return m_reportLevel; } // highest status level reported
    void setReportLevel(int level) { m_reportLevel = level; }

    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost; // Handled = true asks for one more attempt
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;

    // Events for specialised components.
    TNotifyEvent OnDataArrived;
    TNotifyEvent OnAccepted;
    TOnSocketError OnSocketError;
    TNotifyEvent OnChunkReceived;
    TNotifyEvent OnChunkSent;
    TNotifyEvent OnAborted;

    // The local machine's IPv4 address as dotted text, from its up, non-loopback interfaces (the
    // default route's first); empty when none is known yet, so the caller asks again later. Does
    // not touch the socket, window or timer.
    void QueryLocalAddress(QString &Address);

    // Waits for an incoming connection on the (listening) socket and accepts it; returns the new
    // handle, owned by the caller. Its inherited notices reach this component's window, which
    // ignores them: select it elsewhere to hear from it. The peer's address goes into
    // RemoteAddress().
    virtual uint16_t Accept();
    // Resolves Host (or ViaHost) and connects to Port (or ViaPort), waiting for the connection.
    virtual void Connect();
    virtual void Disconnect();
    // Writeln(Command), then ReadLn() into LastReply; ReplyNumber takes the reply's leading number
    // (a number outside the 16-bit signed range raises framework::ERangeError).
    virtual QString Transaction(const QString &Command);
    // Hook run when the time-out fires and when the component is destroyed (this class's own
    // destructor can only reach this class's version).
    virtual void AbortPending();

    // Ends every wait of this component at its next turn. Sticky: stays set until Connect starts
    // or SendBuffer/Accept raise their abort.
    void Cancel();
    // Queues Length bytes (0: up to the first zero byte, at most 65535) and waits until sent.
    void SendBuffer(const void *Buffer, uint16_t Length);
    // Sends the text up to its first zero character, one byte per character (Latin-1).
    void Write(const QString &Text);
    void Writeln(const QString &Text);
    // The next line, up to and including its LF (a CR before it stays in the line).
    QString ReadLn();
    // The text for a Winsock error number (see winsockerrortext.h).
    QString ErrorText(uint16_t Number);

    // Entry of the hidden window for WM_USER+101 .. WM_USER+104. Exceptions are swallowed.
    virtual void DispatchSocketMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // State.
    uint16_t SocketHandle() const;
    framework::NoticeSink *WindowHandle() const { return m_window.get(); }
    TThreadTimer *Timer() const { return m_timer; }
    // Winsock start-up lines; filled only by the instance that started Winsock.
    const QStringList &WinsockInfo() const { return m_winsockInfo; }
    const QString &ViaHost() const { return m_viaHost; }
    void setViaHost(const QString &host) { m_viaHost = host; }
    uint16_t ViaPort() const { return m_viaPort; }
    void setViaPort(uint16_t port) { m_viaPort = port; }
    const sockaddr_in &RemoteAddress() const { return m_remoteAddress; }
    int LastErrorNo() const { return m_lastErrorNo; }
    const QString &LastStatus() const { return m_lastStatus; }
    const QString &LastReply() const { return m_lastReply; }
    int16_t ReplyNumber() const { return m_replyNumber; }
    uint32_t BytesSent() const { return m_bytesSent; }
    uint32_t BytesReceived() const { return m_bytesReceived; }
    bool Connected() const { return m_connected; }
    bool CancelRequested() const { return m_cancelRequested; }
    bool TimedOut() const { return m_timedOut; }
    bool LastEventOk() const { return m_lastEventOk; }
    bool LookupDone() const { return m_lookupDone; }
    bool SendDone() const { return m_sendDone; }
    bool StreamBusy() const { return m_streamBusy; }
    bool AcceptPending() const { return m_acceptPending; }
    bool NoReopen() const { return m_noReopen; }
    void setNoReopen(bool on) { m_noReopen = on; }
    // Counts received bytes into BytesReceived and fires OnChunkReceived/OnChunkSent.
    bool ChunkEvents() const { return m_chunkEvents; }
    void setChunkEvents(bool on) { m_chunkEvents = on; }
    // Sends OutgoingData from BytesSent on and keeps it instead of emptying it.
    bool KeepSendPosition() const { return m_keepSendPosition; }
    void setKeepSendPosition(bool on) { m_keepSendPosition = on; }
    // Received bytes not yet taken by ReadLn, and bytes waiting to be sent.
    framework::MemoryStream &IncomingData() { return *m_incoming; }
    framework::MemoryStream &OutgoingData() { return *m_outgoing; }

    // Live components that took part in the Winsock start-up (process-wide).
    static int WinsockUsers();

protected:
    // Raises ESockError when an OnStatus handler freed the component.
    void ReportStatus(int level, const QString &text);
    // Fires an event; raises ESockError when its handler freed the component.
    template<typename Handler, typename... Args> void fireEvent(const Handler &handler, Args &&...args)
    {
        if (!fire(handler, std::forward<Args>(args)...))
            raiseFreedByHandler();
    }
    [[noreturn]] static void raiseFreedByHandler();
    // Reads the last socket error; unless it is expected, fires OnSocketError and raises
    // ESockError with its text.
    void CheckSocketError(int expected);
    void ResolveRemoteHost();
    // Closes the socket and, unless NoReopen, opens a fresh one at once.
    void RequestCloseSocket();
    void ReadToStream();
    void WriteFromStream();
    void TimerOn();
    void TimerOff();
    void TimerTriggered();

private:
    void InitializeWinsock();
    void finishLookup(uintptr_t handle, intptr_t lParam);
    void drainOnClose();
    // Serves messages until done() holds; raises ESockError when the component is destroyed
    // meanwhile (done() is then never called again).
    void waitUntil(const std::function<bool()> &done);
    qsizetype lineEnd() const;
    void postToSelf(uint32_t message);

    std::unique_ptr<framework::NoticeSink> m_window;
    TThreadTimer *m_timer = nullptr; // owned as QObject child
    QStringList m_winsockInfo;
    platform::winsock::WsaData m_wsaData;
    platform::winsock::Socket m_socket = platform::winsock::kInvalidSocket;

    // Host entry of the look-up being waited for; each started look-up writes its own entry, so a
    // late answer of an abandoned one can neither land in this one nor end its wait.
    platform::winsock::HostEntry m_hostEntry;
    std::unordered_map<uintptr_t, std::unique_ptr<platform::winsock::HostEntry>> m_lookups;
    uintptr_t m_currentLookup = 0;

    char m_textBuffer[16385] = {};
    std::unique_ptr<framework::MemoryStream> m_incoming;
    std::unique_ptr<framework::MemoryStream> m_incomingSpare;
    std::unique_ptr<framework::MemoryStream> m_outgoing;
    std::unique_ptr<framework::MemoryStream> m_outgoingSpare;
    sockaddr_in m_remoteAddress {};

    QString m_host;
    int m_port = 0;
    int m_timeOut = 0;
    int m_reportLevel = 0;
    QString m_viaHost;
    uint16_t m_viaPort = 0;
    int m_lastErrorNo = 0;
    QString m_lastStatus;
    QString m_lastReply;
    int16_t m_replyNumber = 0;
    uint32_t m_bytesSent = 0;
    uint32_t m_bytesReceived = 0;

    bool m_connected = false;
    bool m_cancelRequested = false;
    bool m_timedOut = false;
    bool m_lastEventOk = false;
    bool m_lookupDone = false;
    bool m_sendDone = false;
    bool m_streamBusy = false;
    bool m_noReopen = false;
    bool m_chunkEvents = false;
    bool m_keepSendPosition = false;
    bool m_acceptPending = false; // an accept notice arrived and Accept has not taken it yet
};

} // namespace net
