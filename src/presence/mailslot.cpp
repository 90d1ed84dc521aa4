#include "presence/mailslot.h"

#include "framework/application.h"
#include "platform/mailslot/identity.h"
#include "presence/checkthread.h"
#include "presence/mailslotmessage.h"

#include <QByteArray>

namespace presence {

namespace mailslot = platform::mailslot;

const QString TMailSlot::kDefaultMailBox = QStringLiteral("MailBox");
const QString TMailSlot::kNameTooLong = QStringLiteral("MailBox name cannot be greater than 8 characters long.");

namespace {

QThread::Priority qtPriority(TThreadPriority priority)
{
    switch (priority) {
    case TThreadPriority::tpIdle:
        return QThread::IdlePriority;
    case TThreadPriority::tpLowest:
        return QThread::LowestPriority;
    case TThreadPriority::tpLower:
        return QThread::LowPriority;
    case TThreadPriority::tpNormal:
        return QThread::NormalPriority;
    case TThreadPriority::tpHigher:
        return QThread::HighPriority;
    case TThreadPriority::tpHighest:
        return QThread::HighestPriority;
    case TThreadPriority::tpTimeCritical:
        return QThread::TimeCriticalPriority;
    }
    return QThread::NormalPriority;
}

} // namespace

TMailSlot::TMailSlot(QObject *owner)
    : framework::TComponent(owner)
    , m_mailBox(kDefaultMailBox)
    , m_computerName(mailslot::computerName())
    , m_userName(mailslot::userName())
{ }

TMailSlot::~TMailSlot()
{
    markDestroying();
    if (m_active)
        setActive(false);
}

void TMailSlot::setMailBox(const QString &name)
{
    if (name == m_mailBox)
        return;
    if (name.size() > kMaxMailBoxLength) {
        framework::ShowMessage(kNameTooLong);
        return;
    }
    m_mailBox = name;
    if (m_active) {
        setActive(false);
        setActive(true);
    }
}

void TMailSlot::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    if (active && m_running)
        return;
    if (active)
        OpenMailSlot();
    else
        closeMailSlot();
}

void TMailSlot::setCheckInterval(int32_t milliseconds)
{
    m_checkInterval.store(std::max<int32_t>(0, milliseconds));
}

void TMailSlot::setThreadPriority(TThreadPriority priority)
{
    if (priority == m_threadPriority)
        return;
    m_threadPriority = priority;
    if (m_thread)
        m_thread->setPriority(qtPriority(priority));
}

void TMailSlot::OpenMailSlot()
{
    m_receivingName = QStringLiteral("\\\\.\\mailslot\\") + m_mailBox;
    m_box = mailslot::createMailslot(m_receivingName);
    if (m_box == mailslot::kInvalidHandle) {
        // Another holder has the box: this copy can still send but receives nothing.
        m_active = false;
        return;
    }
    m_thread = std::make_unique<TCheckThread>(*this);
    m_running = true;
    m_thread->start(qtPriority(m_threadPriority));
}

void TMailSlot::closeMailSlot()
{
    m_running = false;
    if (m_thread) {
        m_thread->Terminate();
        m_thread->waitServingHandOvers();
        m_thread->wait();
    }
    if (m_box != mailslot::kInvalidHandle) {
        mailslot::closeHandle(m_box);
        m_box = mailslot::kInvalidHandle;
    }
    m_thread.reset();
}

void TMailSlot::Send(const QString &text)
{
    m_outgoing = messageLines(m_userName, m_computerName, text);
    SendTo(QStringLiteral("*"));
}

void TMailSlot::SendTo(const QString &target)
{
    m_sendingName = QStringLiteral("\\\\") + target + QStringLiteral("\\mailslot\\") + m_mailBox;
    const mailslot::Handle file = mailslot::createFile(m_sendingName);
    if (file == mailslot::kInvalidHandle)
        return;
    const QByteArray bytes = joinLines(m_outgoing).toUtf8();
    uint32_t written = 0;
    mailslot::writeFile(file, bytes.constData(), uint32_t(bytes.size()), &written);
    mailslot::closeHandle(file);
}

void TMailSlot::queryMailSlot()
{
    if (!mailslot::getMailslotInfo(m_box, &m_nextSize, &m_messageCount))
        m_messageCount = 0;
}

void TMailSlot::serveHandOver(std::shared_ptr<HandOverState> state)
{
    {
        const std::lock_guard lock(state->mutex);
        if (!state->pending || state->serving)
            return;
        state->serving = true;
    }
    framework::guard(this, [this] { ReadMessage(); });
    {
        const std::lock_guard lock(state->mutex);
        state->serving = false;
        state->pending = false;
    }
    state->changed.notify_all();
}

void TMailSlot::ReadMessage()
{
    if (m_nextSize == platform::mailslot::kNoMessage)
        return;
    QByteArray buffer(qsizetype(m_nextSize), Qt::Uninitialized);
    uint32_t read = 0;
    // A failed read leaves the message waiting; the poller's next query finds it again.
    if (!mailslot::readFile(m_box, buffer.data(), uint32_t(buffer.size()), &read))
        return;
    buffer.truncate(qsizetype(read));
    const std::optional<ReceivedMessage> message = parseMessage(buffer);
    // A component being destroyed (its owner's handler may be half gone) reads but stays quiet.
    if (message && OnNewMessage && !isDestroying())
        OnNewMessage(this, message->computer, message->userName, message->text);
}

} // namespace presence
