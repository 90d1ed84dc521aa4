#pragma once

#include "framework/component.h"
#include "platform/mailslot/mailslotapi.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace presence {

class TCheckThread;
struct HandOverState;

enum class TThreadPriority
{
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical,
};

using TNewMessage
    = std::function<void(QObject *Sender, const QString &Computer, const QString &UserName, const QString &Text)>;

// Short text messages between the copies of the program on a LAN. The component owns this
// machine's receiving box (one holder per machine and box name) and sends each message to the box
// of the same name on every machine of the LAN, this one included. Every message carries the
// sender's user and computer name (see mailslotmessage.h for the bytes).
//
// While Active, a polling thread (TCheckThread) queries the box every CheckInterval and hands each
// waiting message to the thread that made the component (the GUI thread), waiting until it has
// been read there; OnNewMessage therefore runs on the GUI thread, one message at a time, in
// arrival order. All members are for the GUI thread.
//
// Failures are silent: a box another holder has leaves Active false (sending still works); a
// send that cannot go out is dropped.
class TMailSlot : public framework::TComponent
{
    Q_OBJECT

public:
    static const QString kDefaultMailBox; // "MailBox"
    static const QString kNameTooLong; // the warning for a MailBox of more than 8 characters
    static constexpr int kMaxMailBoxLength = 8;

    explicit TMailSlot(QObject *owner = nullptr);
    ~TMailSlot() override;

    // Published properties, in stored order.
    const QString &MailBox() const { return m_mailBox; }
    // Unchanged (exact comparison): nothing. Longer than 8 characters: the warning through
    // framework::ShowMessage, name kept. Otherwise stored; an active component reopens.
    void setMailBox(const QString &name);
    bool Active() const { return m_active; }
    // True opens the box and starts polling (reads false again when the box cannot be had);
    // false stops the thread, serving a hand-over it waits on, then closes the box.
    void setActive(bool active);
    // Milliseconds between queries; read afresh by the thread at every step. From 1000 on the
    // thread counts whole seconds (2500 polls every 3 s); below it polls, then sleeps that long.
    // The first query comes as soon as the thread starts. A negative value is taken as 0, which
    // polls every millisecond.
    int32_t CheckInterval() const { return m_checkInterval.load(); }
    void setCheckInterval(int32_t milliseconds);
    TThreadPriority ThreadPriority() const { return m_threadPriority; }
    // Applied to a running thread at once.
    void setThreadPriority(TThreadPriority priority);

    TNewMessage OnNewMessage;

    // Sends text (split into lines at CR, LF or CR LF; empty: no text line) to every machine.
    // Works whether Active or not.
    void Send(const QString &text);
    // Sends the outgoing lines to "\\" + target + "\mailslot\" + MailBox: "*" for every machine,
    // "." for this one, or a dotted address. A send that cannot go out is dropped silently.
    void SendTo(const QString &target);

    // The names sent with each message, fetched once when the component is made.
    const QString &computerName() const { return m_computerName; }
    const QString &userName() const { return m_userName; }

    // The polling thread while Active (null otherwise); for status displays and tests.
    const TCheckThread *checkThread() const { return m_thread.get(); }

private:
    friend class TCheckThread;

    void OpenMailSlot();
    void closeMailSlot();
    // GUI thread: reads the message the poller found and raises OnNewMessage.
    void ReadMessage();
    // GUI thread: runs the hand-over state's pending request, if it still waits.
    void serveHandOver(std::shared_ptr<HandOverState> state);
    // Poller thread: queries the box into m_nextSize and m_messageCount.
    void queryMailSlot();

    QString m_mailBox;
    bool m_active = false;
    std::atomic<int32_t> m_checkInterval { 1000 };
    TThreadPriority m_threadPriority = TThreadPriority::tpNormal;

    std::unique_ptr<TCheckThread> m_thread;
    bool m_running = false;
    platform::mailslot::Handle m_box = platform::mailslot::kInvalidHandle;
    QString m_receivingName;
    QString m_sendingName;
    // Written by the poller before it hands over, read by ReadMessage while the poller waits.
    uint32_t m_nextSize = 0;
    uint32_t m_messageCount = 0;
    QStringList m_outgoing;
    QString m_computerName;
    QString m_userName;
};

} // namespace presence
