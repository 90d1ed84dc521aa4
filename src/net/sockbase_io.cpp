// Data transfer of TSockBase: sending, receiving, lines and transactions.
#include "net/sockbase.h"

#include "framework/noticesink.h"

#include <QPointer>

#include <climits>
#include <cstring>
#include <utility>

namespace net {

namespace ws = platform::winsock;

namespace {

constexpr qsizetype kTextBufferChars = 16384;

// Clears a busy flag of a component however the block is left, unless a handler freed the
// component meanwhile.
class BusyScope
{
public:
    BusyScope(QObject *owner, bool &flag)
        : m_owner(owner)
        , m_flag(flag)
    {
        m_flag = true;
    }
    ~BusyScope()
    {
        if (m_owner)
            m_flag = false;
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    QPointer<QObject> m_owner;
    bool &m_flag;
};

// Replaces stream's content by its bytes from offset on, using spare, and swaps the two.
void keepRest(
    std::unique_ptr<framework::MemoryStream> &stream, std::unique_ptr<framework::MemoryStream> &spare, qint64 offset)
{
    spare->clear();
    spare->write(stream->data() + offset, stream->size() - offset);
    stream->clear();
    std::swap(stream, spare);
    stream->setPosition(0);
}

} // namespace

void TSockBase::SendBuffer(const void *Buffer, uint16_t Length)
{
    ReportStatus(4, QStringLiteral("Sending Buffer"));
    if (m_cancelRequested)
        return;
    const size_t length = Length != 0 ? Length : Buffer ? strnlen(static_cast<const char *>(Buffer), 65535) : 0;
    // Nothing to send never completes a send: waiting for it would never end.
    if (length == 0)
        return;
    m_outgoing->setPosition(m_outgoing->size());
    m_outgoing->write(Buffer, qint64(length));
    m_sendDone = false;
    postToSelf(WriteChunkMessage);
    waitUntil([this] { return m_sendDone || m_cancelRequested; });
    if (m_cancelRequested) {
        m_cancelRequested = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
}

void TSockBase::Write(const QString &Text)
{
    ReportStatus(8, QStringLiteral("Write"));
    QByteArray bytes = Text.toLatin1();
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    // The text buffer holds 16384 characters; a longer text goes out in several pieces rather
    // than losing its end (and with it, for Writeln, the line end the peer waits for).
    qsizetype offset = 0;
    do {
        const qsizetype piece = std::min(kTextBufferChars, bytes.size() - offset);
        std::memcpy(m_textBuffer, bytes.constData() + offset, size_t(piece));
        m_textBuffer[piece] = '\0';
        SendBuffer(m_textBuffer, 0);
        offset += piece;
    } while (offset < bytes.size());
}

void TSockBase::Writeln(const QString &Text)
{
    ReportStatus(8, QStringLiteral("Writeln"));
    Write(Text + QStringLiteral("\r\n"));
}

void TSockBase::WriteFromStream()
{
    if (m_streamBusy)
        return;
    BusyScope busy(this, m_streamBusy);
    ReportStatus(8, QStringLiteral("WriteFromStream"));
    const bool hasData = m_keepSendPosition ? m_outgoing->position() < m_outgoing->size() : m_outgoing->size() > 0;
    if (!hasData || m_cancelRequested)
        return;

    const qint64 start = m_keepSendPosition ? qint64(m_bytesSent) : 0;
    m_outgoing->setPosition(start);
    char buffer[kChunkSize + 1];
    const qint64 length = m_outgoing->read(buffer, kChunkSize);
    const int sent = ws::send(m_socket, buffer, int(length));
    if (sent == ws::kSocketError) {
        // The data stays queued for the next write notice.
        m_lastErrorNo = ws::lastError();
        m_outgoing->setPosition(0);
        return;
    }
    const qint64 end = start + sent;
    if (end >= m_outgoing->size()) {
        if (!m_keepSendPosition)
            m_outgoing->clear();
        m_sendDone = true;
    } else {
        if (m_keepSendPosition)
            m_outgoing->setPosition(end);
        else
            keepRest(m_outgoing, m_outgoingSpare, end);
        postToSelf(WriteChunkMessage);
    }
    m_bytesSent += uint32_t(sent);
    if (m_chunkEvents)
        fireEvent(OnChunkSent, this);
}

void TSockBase::ReadToStream()
{
    if (m_cancelRequested) {
        ws::asyncSelect(m_socket, m_window.get(), 0, 0);
        fireEvent(OnAborted, this);
    }
    if (m_streamBusy)
        return;
    bool failed = false;
    {
        BusyScope busy(this, m_streamBusy);
        ReportStatus(8, QStringLiteral("ReadToStream"));
        m_incoming->setPosition(m_incoming->size());
        char buffer[kChunkSize + 1];
        const int received = ws::recv(m_socket, buffer, kChunkSize);
        failed = received == ws::kSocketError;
        if (failed) {
            m_lastErrorNo = ws::lastError();
            const QString text = ErrorText(uint16_t(m_lastErrorNo));
            fireEvent(OnSocketError, this, uint16_t(m_lastErrorNo), text);
        } else {
            m_incoming->write(buffer, received);
            if (m_chunkEvents) {
                m_bytesReceived += uint32_t(received);
                fireEvent(OnChunkReceived, this);
            }
            // A full chunk may have left more behind: read again from the message loop.
            if (received == kChunkSize)
                postToSelf(ReadChunkMessage);
        }
    }
    if (!failed)
        fireEvent(OnDataArrived, this);
}

qsizetype TSockBase::lineEnd() const
{
    // The received bytes are searched as zero-terminated text.
    const QByteArray &bytes = m_incoming->bytes();
    const qsizetype zero = bytes.indexOf('\0');
    const qsizetype feed = bytes.indexOf('\n');
    return zero >= 0 && feed > zero ? -1 : feed;
}

QString TSockBase::ReadLn()
{
    ReportStatus(8, QStringLiteral("ReadLn"));
    waitUntil([this] { return lineEnd() >= 0 || m_cancelRequested; });
    if (m_cancelRequested)
        throw EAbortError(QStringLiteral("Socket readln aborted"));
    const qsizetype end = lineEnd() + 1;
    const QString line = QString::fromLatin1(m_incoming->data(), end);
    if (end >= m_incoming->size())
        m_incoming->clear();
    else
        keepRest(m_incoming, m_incomingSpare, end);
    return line;
}

QString TSockBase::Transaction(const QString &Command)
{
    ReportStatus(8, QStringLiteral("Transaction"));
    m_replyNumber = 0;
    Writeln(Command);
    m_lastReply = ReadLn();
    if (!m_lastReply.isEmpty()) {
        ReportStatus(1, m_lastReply);
        qsizetype digits = 0;
        while (digits < m_lastReply.size() && digits < 10 && m_lastReply[digits].isDigit()
            && m_lastReply[digits].unicode() < 128)
            ++digits;
        if (digits > 0) {
            // The digits are read as a 32-bit integer (0 when they do not fit), then stored in
            // 16 bits with a range check.
            const qint64 value = m_lastReply.left(digits).toLongLong();
            const int number = value > INT_MAX ? 0 : int(value);
            if (number > INT16_MAX)
                throw framework::ERangeError();
            m_replyNumber = int16_t(number);
        }
    }
    return m_lastReply;
}

} // namespace net
