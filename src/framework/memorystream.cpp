#include "framework/memorystream.h"

#include <algorithm>
#include <cstring>

namespace framework {

void MemoryStream::setPosition(qint64 position)
{
    m_position = std::max<qint64>(position, 0);
}

void MemoryStream::setSize(qint64 size)
{
    size = std::max<qint64>(size, 0);
    const qint64 old = m_bytes.size();
    m_bytes.resize(size);
    if (size > old)
        std::memset(m_bytes.data() + old, 0, size_t(size - old));
    m_position = std::min(m_position, size);
}

void MemoryStream::clear()
{
    m_bytes.clear();
    m_position = 0;
}

qint64 MemoryStream::read(void *buffer, qint64 count)
{
    if (count <= 0 || m_position >= m_bytes.size())
        return 0;
    const qint64 n = std::min(count, m_bytes.size() - m_position);
    std::memcpy(buffer, m_bytes.constData() + m_position, size_t(n));
    m_position += n;
    return n;
}

qint64 MemoryStream::write(const void *buffer, qint64 count)
{
    if (count <= 0)
        return 0;
    const qint64 end = m_position + count;
    if (end > m_bytes.size())
        setSize(end);
    std::memcpy(m_bytes.data() + m_position, buffer, size_t(count));
    m_position = end;
    return count;
}

} // namespace framework
