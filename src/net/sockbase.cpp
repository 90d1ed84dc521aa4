#include "net/sockbase.h"

#include "framework/application.h"
#include "net/portrange.h"
#include "net/sockwindow.h"
#include "net/threadtimer.h"
#include "net/winsockerrortext.h"
#include "platform/localaddresses.h"

#include <QPointer>

#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace net {

namespace ws = platform::winsock;

namespace {

constexpr long kAllEvents = ws::FD_READ | ws::FD_WRITE | ws::FD_OOB | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;
constexpr auto kPollPeriod = std::chrono::milliseconds(2);

const QString kLookupTimedOut = QStringLiteral("Host Lookup Timed Out");
const QString kLookupCanceled = QStringLiteral("Host Lookup Canceled");
const QString kLookupFailed = QStringLiteral("Host Lookup Failed");
const QString kDestroyedWhileWaiting = QStringLiteral("Socket component destroyed while waiting");
const QString kFreedByHandler = QStringLiteral("Socket component destroyed by an event handler");

int s_winsockUsers = 0;

// A 16-bit handle is all the component can hold; 65535 means "no socket".
bool fitsHandle(ws::Socket socket)
{
    return socket >= 0 && socket < TSockBase::kNoSocket;
}

} // namespace

TSockBase::TSockBase(QObject *owner)
    : TComponent(owner)
{
    ReportStatus(8, QStringLiteral("Create"));
    m_window = createSocketWindow(this);
    m_viaHost.clear();
    m_timer = new TThreadTimer(this);
    m_timer->setEnabled(false);
    m_timer->setOnTimer([this](QObject *) {
        const QPointer<TSockBase> self(this);
        try {
            TimerTriggered();
        } catch (...) {
            if (self) // a component its handler freed has nobody left to report to
                throw;
        }
    });
    m_incoming = std::make_unique<framework::MemoryStream>();
    m_incomingSpare = std::make_unique<framework::MemoryStream>();
    m_outgoing = std::make_unique<framework::MemoryStream>();
    m_outgoingSpare = std::make_unique<framework::MemoryStream>();
    InitializeWinsock();
}

TSockBase::~TSockBase()
{
    markDestroying();
    ReportStatus(8, QStringLiteral("Destroy"));
    AbortPending();
    Cancel();
    m_winsockInfo.clear();
    delete m_timer;
    m_timer = nullptr;
    // Gone before the look-up entries: a late answer finds no window and writes nothing.
    m_window.reset();
    m_noReopen = true;
    try {
        RequestCloseSocket();
    } catch (...) {
        // A failed close cannot be reported from a destructor; the handle is gone either way.
    }
    if (--s_winsockUsers == 0)
        ws::cleanup();
}

int TSockBase::WinsockUsers()
{
    return s_winsockUsers;
}

void TSockBase::setPort(int port)
{
    checkPortRange<ESockError>(port);
    m_port = port;
}

uint16_t TSockBase::SocketHandle() const
{
    return fitsHandle(m_socket) ? uint16_t(m_socket) : kNoSocket;
}

void TSockBase::InitializeWinsock()
{
    ReportStatus(8, QStringLiteral("Initializing Winsock"));
    if (++s_winsockUsers == 1) {
        ws::startup(ws::makeVersion(1, 1), m_wsaData);
        const auto version
            = [](uint16_t v) { return QString::number(v >> 8) + QLatin1Char('.') + QString::number(v & 0xFF); };
        m_winsockInfo << QStringLiteral("Version= ") + version(m_wsaData.version)
                      << QStringLiteral("High Version= ") + version(m_wsaData.highVersion)
                      << QStringLiteral("Description= ")
                + QString::fromLatin1(m_wsaData.description, qsizetype(strnlen(m_wsaData.description, 257)))
                      << QStringLiteral("System= ")
                + QString::fromLatin1(m_wsaData.systemStatus, qsizetype(strnlen(m_wsaData.systemStatus, 129)))
                      << QStringLiteral("Max Sockets= ") + QString::number(m_wsaData.maxSockets)
                      << QStringLiteral("Max Udp pack size= ") + QString::number(m_wsaData.maxUdpDatagram);
    }

    bool ok = false;
    try {
        m_socket = ws::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_socket != ws::kInvalidSocket && !fitsHandle(m_socket)) {
            ws::closeSocket(m_socket);
            m_socket = ws::kInvalidSocket;
            ws::setLastError(ws::WSAEMFILE);
        }
        if (m_socket == ws::kInvalidSocket)
            CheckSocketError(ws::WSAEWOULDBLOCK);
        // Closing resets the connection at once instead of lingering.
        ok = m_socket != ws::kInvalidSocket && ws::setLinger(m_socket, true, 0) == 0
            && ws::asyncSelect(m_socket, m_window.get(), SocketMessage, kAllEvents) == 0;
    } catch (const ESockError &) {
        ok = false;
    }
    if (!ok) {
        if (m_socket != ws::kInvalidSocket)
            ws::closeSocket(m_socket);
        m_socket = ws::kInvalidSocket;
        if (--s_winsockUsers == 0)
            ws::cleanup();
        throw ESockError(QStringLiteral("Initializaton of windows sockets failed"));
    }
}

void TSockBase::QueryLocalAddress(QString &Address)
{
    // The interfaces' addresses, not the host name's: that resolves to a loopback address on many
    // systems, which no peer could call back. Not known yet is an empty text.
    Address = platform::primaryLocalIPv4Address();
    if (Address.startsWith(QLatin1String("127.")))
        Address.clear();
}

void TSockBase::ReportStatus(int level, const QString &text)
{
    if (level > m_reportLevel)
        return;
    m_lastStatus = text;
    if (!isDestroying())
        fireEvent(OnStatus, this, QString(m_lastStatus));
}

void TSockBase::raiseFreedByHandler()
{
    throw ESockError(kFreedByHandler);
}

QString TSockBase::ErrorText(uint16_t Number)
{
    ReportStatus(8, QStringLiteral("Looking Up Error Message"));
    return winsockErrorText(Number);
}

void TSockBase::CheckSocketError(int expected)
{
    ReportStatus(16, QStringLiteral("Checking Error In Error Manager"));
    m_lastErrorNo = ws::lastError();
    if (m_lastErrorNo == expected)
        return;
    const QString text = ErrorText(uint16_t(m_lastErrorNo));
    fireEvent(OnSocketError, this, uint16_t(m_lastErrorNo), text);
    throw ESockError(text);
}

void TSockBase::waitUntil(const std::function<bool()> &done)
{
    const QPointer<TSockBase> self(this);
    while (!done()) {
        std::this_thread::sleep_for(kPollPeriod);
        framework::Application::processMessages();
        if (!self)
            throw ESockError(kDestroyedWhileWaiting);
    }
}

void TSockBase::postToSelf(uint32_t message)
{
    if (m_window)
        m_window->post(message, uintptr_t(SocketHandle()), 0);
}

void TSockBase::TimerOn()
{
    ReportStatus(8, QStringLiteral("Timer On"));
    m_timedOut = false;
    if (m_timeOut < 0)
        throw framework::ERangeError();
    m_timer->setInterval(uint32_t(m_timeOut));
    m_timer->setEnabled(true);
}

void TSockBase::TimerOff()
{
    ReportStatus(8, QStringLiteral("Timer Off"));
    m_timer->setEnabled(false);
}

void TSockBase::TimerTriggered()
{
    ReportStatus(8, QStringLiteral("Timer Triggered"));
    TimerOff();
    m_timedOut = true;
    AbortPending();
}

void TSockBase::AbortPending()
{ }

void TSockBase::Cancel()
{
    ReportStatus(8, QStringLiteral("Canceling"));
    m_cancelRequested = true;
}

void TSockBase::ResolveRemoteHost()
{
    ReportStatus(8, QStringLiteral("Resolve Host"));
    QString name = m_viaHost.isEmpty() ? m_host : m_viaHost;
    const qsizetype zero = name.indexOf(QChar(0));
    if (zero >= 0)
        name.truncate(zero);

    const uint32_t address = ws::inetAddr(name.left(kMaxHostNameLength));
    if (address != ws::kNoneAddress) {
        m_remoteAddress.sin_addr.s_addr = address;
        return;
    }

    m_remoteAddress.sin_addr.s_addr = 0;
    // No host name is that long; asking the resolver for a cut one could find another host.
    if (name.size() > kMaxHostNameLength)
        throw ESockError(kLookupFailed);
    TimerOn();
    m_lookupDone = false;
    auto entry = std::make_unique<ws::HostEntry>();
    const uintptr_t handle = ws::asyncGetHostByName(name, m_window.get(), LookupMessage, entry.get());
    m_lookups[handle] = std::move(entry);
    m_currentLookup = handle;

    waitUntil([this] { return m_lookupDone || m_timedOut || m_cancelRequested; });
    TimerOff();
    m_currentLookup = 0;

    if (m_timedOut)
        throw ESockError(kLookupTimedOut);
    if (m_cancelRequested)
        throw ESockError(kLookupCanceled);
    if (!m_lastEventOk || m_hostEntry.addresses.empty())
        throw ESockError(kLookupFailed);
    m_remoteAddress.sin_addr.s_addr = m_hostEntry.addresses.front();
    fireEvent(OnHostResolved, this);
}

void TSockBase::finishLookup(uintptr_t handle, intptr_t lParam)
{
    const auto found = m_lookups.find(handle);
    if (found == m_lookups.end())
        return;
    const std::unique_ptr<ws::HostEntry> entry = std::move(found->second);
    m_lookups.erase(found);
    // The answer of a look-up whose wait has already ended (time-out, cancel) is dropped.
    if (handle != m_currentLookup)
        return;
    m_hostEntry = *entry;
    m_lastEventOk = framework::highWord(lParam) == 0;
    m_lookupDone = true;
}

void TSockBase::Connect()
{
    ReportStatus(8, QStringLiteral("Connecting"));
    m_cancelRequested = false;
    if (m_connected)
        throw ESockError(QStringLiteral("Already connected"));

    const QPointer<TSockBase> self(this);
    int attempts = 0;
    do {
        try {
            ResolveRemoteHost();
        } catch (const ESockError &error) {
            if (!self || error.message() == kLookupTimedOut || error.message() == kLookupCanceled
                || error.message() == kFreedByHandler)
                throw;
        }
        if (m_remoteAddress.sin_addr.s_addr == 0) {
            if (attempts > 0 || !OnInvalidHost)
                throw ESockError(QStringLiteral("Null Remote Address"));
            bool handled = false;
            fireEvent(OnInvalidHost, handled);
            if (!handled)
                throw ESockError(QStringLiteral("Null Remote Address"));
            ++attempts;
        }
    } while (m_remoteAddress.sin_addr.s_addr == 0);

    m_remoteAddress.sin_family = AF_INET;
    m_remoteAddress.sin_port = htons(m_viaHost.isEmpty() ? uint16_t(m_port) : m_viaPort);
    m_lookupDone = false;
    m_lastEventOk = true;
    if (ws::connect(m_socket, m_remoteAddress) == ws::kSocketError)
        CheckSocketError(ws::WSAEWOULDBLOCK); // in progress is the normal answer

    TimerOn();
    waitUntil([this] { return m_connected || m_timedOut || m_cancelRequested || !m_lastEventOk; });
    TimerOff();
    if (m_timedOut || m_cancelRequested || !m_lastEventOk) {
        const QString text = m_timedOut ? QStringLiteral("Connection Timed out")
            : m_cancelRequested         ? QStringLiteral("Connection Canceled")
                                        : QStringLiteral("Connection Failed");
        fireEvent(OnConnectionFailed, this);
        throw ESockError(text);
    }
}

void TSockBase::Disconnect()
{
    ReportStatus(8, QStringLiteral("Disconnecting"));
    RequestCloseSocket();
}

void TSockBase::RequestCloseSocket()
{
    ReportStatus(4, QStringLiteral("Request Close Socket"));
    m_connected = false;
    if (m_socket == ws::kInvalidSocket)
        return;
    const int result = ws::closeSocket(m_socket);
    // POSIX frees the descriptor even when close() reports an error: never use it again.
    m_socket = ws::kInvalidSocket;
    if (result == ws::kSocketError) {
        CheckSocketError(ws::WSAEWOULDBLOCK);
        return;
    }
    if (!isDestroying())
        fireEvent(OnDisconnect, this);
    if (m_noReopen)
        return;
    m_socket = ws::socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket != ws::kInvalidSocket && !fitsHandle(m_socket)) {
        ws::closeSocket(m_socket);
        m_socket = ws::kInvalidSocket;
    }
    if (m_socket != ws::kInvalidSocket)
        ws::asyncSelect(m_socket, m_window.get(), SocketMessage, kAllEvents);
}

uint16_t TSockBase::Accept()
{
    waitUntil([this] { return m_acceptPending || m_cancelRequested; });
    if (m_cancelRequested)
        throw ESockError(QStringLiteral("Accepting Canceled"));
    m_acceptPending = false;
    if (!m_lastEventOk)
        throw ESockError(QStringLiteral("Error creating Data Connection"));
    ReportStatus(4, QStringLiteral("Accepting"));
    sockaddr_in peer {};
    const ws::Socket accepted = ws::accept(m_socket, &peer);
    if (!fitsHandle(accepted)) {
        if (accepted != ws::kInvalidSocket)
            ws::closeSocket(accepted);
        throw ESockError(QStringLiteral("Error creating Data Connection"));
    }
    m_remoteAddress = peer;
    if (m_cancelRequested) {
        m_cancelRequested = false;
        ws::closeSocket(accepted);
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
    return uint16_t(accepted);
}

void TSockBase::drainOnClose()
{
    char buffer[kChunkSize + 1];
    while (!m_cancelRequested) {
        const int n = ws::recv(m_socket, buffer, kChunkSize);
        if (n <= 0)
            break;
        m_incoming->setPosition(m_incoming->size());
        m_incoming->write(buffer, n);
    }
}

void TSockBase::DispatchSocketMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    try {
        switch (message) {
        case SocketMessage: {
            // Accepted sockets inherit this window; their notices (and those of a socket since
            // closed) are not about this component's socket.
            if (m_socket == ws::kInvalidSocket || wParam != uintptr_t(m_socket))
                return;
            m_lastEventOk = framework::highWord(lParam) == 0;
            switch (framework::lowWord(lParam)) {
            case ws::FD_READ:
                ReadToStream();
                break;
            case ws::FD_WRITE:
                WriteFromStream();
                break;
            case ws::FD_ACCEPT:
                m_connected = true;
                m_acceptPending = true;
                fireEvent(OnAccepted, this);
                break;
            case ws::FD_CONNECT:
                if (m_lastEventOk) {
                    m_connected = true;
                    fireEvent(OnConnect, this);
                }
                break;
            case ws::FD_CLOSE:
                drainOnClose();
                m_connected = false;
                RequestCloseSocket();
                break;
            default: // out-of-band data is not used
                break;
            }
            break;
        }
        case LookupMessage:
            finishLookup(wParam, lParam);
            break;
        case WriteChunkMessage:
            WriteFromStream();
            break;
        case ReadChunkMessage:
            ReadToStream();
            break;
        default:
            break;
        }
    } catch (...) {
        // A notice has no caller to report to (nor, when a handler freed it, a component).
    }
}

} // namespace net
