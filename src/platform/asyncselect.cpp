#include "platform/asyncselect.h"

#include "framework/noticesink.h"
#include "platform/winsock.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unordered_map>

namespace platform::winsock {

namespace {

std::unordered_map<int, std::unique_ptr<AsyncSelect>> &registry()
{
    static std::unordered_map<int, std::unique_ptr<AsyncSelect>> table;
    return table;
}

int socketOption(int socket, int option)
{
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(socket, SOL_SOCKET, option, &value, &length) != 0)
        return -1;
    return value;
}

} // namespace

AsyncSelect::AsyncSelect(int socket, framework::NoticeSink *sink, uint32_t message, long events)
    : m_socket(socket)
    , m_sink(sink)
    , m_message(message)
    , m_events(events)
{
    m_stream = socketOption(socket, SO_TYPE) == SOCK_STREAM;
    m_read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    m_write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    m_write->setEnabled(false);
    connect(m_read.get(), &QSocketNotifier::activated, this, &AsyncSelect::handleReadable);
    connect(m_write.get(), &QSocketNotifier::activated, this, &AsyncSelect::handleWritable);
}

AsyncSelect::~AsyncSelect() = default;

AsyncSelect *AsyncSelect::find(int socket)
{
    const auto found = registry().find(socket);
    return found == registry().end() ? nullptr : found->second.get();
}

void AsyncSelect::install(std::unique_ptr<AsyncSelect> select)
{
    const int socket = select->m_socket;
    remove(socket);
    registry().emplace(socket, std::move(select));
}

void AsyncSelect::remove(int socket)
{
    const auto found = registry().find(socket);
    if (found == registry().end())
        return;
    // The notifiers may be delivering right now; delete once control is back in the loop.
    AsyncSelect *select = found->second.release();
    registry().erase(found);
    select->m_token.reset();
    select->m_read->setEnabled(false);
    select->m_write->setEnabled(false);
    select->deleteLater();
}

void AsyncSelect::rearmRead()
{
    if (!m_closed)
        m_read->setEnabled(true);
}

void AsyncSelect::connectStarted()
{
    m_connecting = true;
    m_read->setEnabled(false);
    m_write->setEnabled(true);
}

void AsyncSelect::sendBlocked()
{
    m_write->setEnabled(true);
}

void AsyncSelect::announceWritable()
{
    sockaddr_storage peer {};
    socklen_t length = sizeof peer;
    if (m_stream && ::getpeername(m_socket, reinterpret_cast<sockaddr *>(&peer), &length) == 0)
        post(FD_WRITE);
}

void AsyncSelect::handleReadable()
{
    m_read->setEnabled(false);
    if (!m_stream) {
        post(FD_READ);
        return;
    }
    if (socketOption(m_socket, SO_ACCEPTCONN) == 1) {
        post(FD_ACCEPT);
        return;
    }
    char probe;
    const ssize_t n = ::recv(m_socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        post(FD_READ);
    } else if (n == 0) {
        m_closed = true;
        post(FD_CLOSE);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        m_read->setEnabled(true);
    } else if (errno == ENOTCONN) {
        // A stream socket that is neither connected nor listening polls as hung up. Nothing has
        // happened to report; a completed connect() or listen() arms reading again.
    } else {
        m_closed = true;
        post(FD_CLOSE, fromErrno(errno));
    }
}

void AsyncSelect::handleWritable()
{
    m_write->setEnabled(false);
    if (m_connecting) {
        m_connecting = false;
        const int error = socketOption(m_socket, SO_ERROR);
        const int code = error > 0 ? fromErrno(error) : 0;
        post(FD_CONNECT, code);
        if (code == 0) {
            post(FD_WRITE);
            m_read->setEnabled(true);
        }
        return;
    }
    post(FD_WRITE);
}

void AsyncSelect::post(long event, int error)
{
    if (!(m_events & event) || !m_sink)
        return;
    m_sink->post(m_message, uintptr_t(m_socket), framework::makeLParam(uint16_t(event), uint16_t(error)), m_token);
}

} // namespace platform::winsock
