#pragma once

#include "framework/noticesink.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>

class QSocketNotifier;

namespace platform::winsock {

// The notice machinery behind asyncSelect(): watches one socket through the Qt event loop and
// posts Winsock-style event notices. Each event is posted once and re-armed by the call that
// consumes it, so a component that has not read yet is not flooded. Internal to the socket layer.
class AsyncSelect : public QObject
{
    Q_OBJECT

public:
    AsyncSelect(int socket, framework::NoticeSink *sink, uint32_t message, long events);
    ~AsyncSelect() override;

    // Registry by socket (GUI thread only).
    static AsyncSelect *find(int socket);
    static void install(std::unique_ptr<AsyncSelect> select);
    static void remove(int socket);

    long events() const { return m_events; }
    framework::NoticeSink *sink() const { return m_sink; }
    uint32_t message() const { return m_message; }

    // Called by the socket layer after the matching operation.
    void rearmRead();
    void connectStarted();
    void sendBlocked();
    // Posts FD_WRITE when the socket is connected (a fresh selection or an accepted socket).
    void announceWritable();

private:
    void handleReadable();
    void handleWritable();
    void post(long event, int error = 0);

    int m_socket;
    QPointer<framework::NoticeSink> m_sink;
    uint32_t m_message;
    long m_events;
    bool m_stream = false;
    bool m_connecting = false;
    bool m_closed = false;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    // Notices are posted with this token and dropped once the selection ends: a socket closed and
    // reopened under the same descriptor number must not hear about its predecessor.
    std::shared_ptr<const int> m_token = std::make_shared<const int>(0);
};

} // namespace platform::winsock
