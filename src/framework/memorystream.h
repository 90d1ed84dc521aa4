#pragma once

#include <QByteArray>

#include <cstdint>

namespace framework {

// A growable byte buffer with a position: the unit components exchange (one per datagram).
// Writing past the end grows it; a gap left by a position beyond the end is zero-filled.
class MemoryStream
{
public:
    MemoryStream() = default;
    explicit MemoryStream(QByteArray bytes)
        : m_bytes(std::move(bytes))
    { }

    qint64 size() const { return m_bytes.size(); }
    qint64 position() const { return m_position; }
    // Positions below 0 are taken as 0.
    void setPosition(qint64 position);
    // Truncates or zero-extends; the position is kept but not beyond the new end.
    void setSize(qint64 size);
    void clear();

    // Copies up to count bytes from the position on; returns the number copied (0 at the end).
    qint64 read(void *buffer, qint64 count);
    // Writes count bytes at the position and moves it past them; returns count.
    qint64 write(const void *buffer, qint64 count);
    qint64 write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }

    const char *data() const { return m_bytes.constData(); }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    qint64 m_position = 0;
};

} // namespace framework
