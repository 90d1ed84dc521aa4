#include "images/giflzw.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

namespace images::lzw {

namespace {

constexpr int kMaxWidth = 12;
constexpr unsigned kTableSize = 4096;
// A string longer than this can only come from a damaged table.
constexpr int kMaxString = 4096;
constexpr unsigned kHashSlots = 17777;
// The encoder starts over once this code is assigned, before the width would pass 12 bits.
constexpr unsigned kResetCode = 4094;

std::vector<std::unique_ptr<Encoder::Slots>> &freeTables()
{
    thread_local std::vector<std::unique_ptr<Encoder::Slots>> tables;
    return tables;
}

inline quint64 load64(const uchar *p)
{
    quint64 v;
    std::memcpy(&v, p, 8);
    return qFromLittleEndian(v);
}

} // namespace

DecodeResult decode(
    int codeSize, const uchar *data, qint64 size, uchar *out, qint64 pixelCount, const ProgressCheck &progress)
{
    DecodeResult result;
    const unsigned clear = 1u << codeSize;
    const unsigned end = clear + 1;
    int width = codeSize + 1;
    unsigned mask = (1u << width) - 1;
    unsigned next = clear + 2;

    // Every table string is a copy of output written earlier: its start and length are enough.
    std::vector<quint32> start(kTableSize);
    std::vector<quint16> length(kTableSize);

    quint64 bits = 0;
    int bitCount = 0;
    const uchar *p = data;
    qint64 bitsLeft = size * 8;
    qint64 pos = 0;
    qint64 prevStart = -1; // start of the previous string; -1 right after a clear code
    int prevLength = 0;

    // Progress is checked about every 1/32 of the pixels.
    const qint64 step = std::max<qint64>(pixelCount / 32, 65536);
    qint64 nextCheck = progress ? step : std::numeric_limits<qint64>::max();

    while (pos < pixelCount) {
        if (bitsLeft < width) {
            result.corrupted = true; // data ended before the picture was complete
            break;
        }
        if (bitCount < width) {
            bits |= load64(p) << bitCount;
            p += (63 - bitCount) >> 3;
            bitCount |= 56;
        }
        const unsigned code = unsigned(bits) & mask;
        bits >>= width;
        bitCount -= width;
        bitsLeft -= width;

        if (code == clear) {
            width = codeSize + 1;
            mask = (1u << width) - 1;
            next = clear + 2;
            prevStart = -1;
            continue;
        }
        if (code == end)
            break;

        if (prevStart < 0) {
            // The first code after a clear must be a single pixel.
            if (code > clear) {
                result.corrupted = true;
                break;
            }
            out[pos] = uchar(code);
            prevStart = pos++;
            prevLength = 1;
            continue;
        }

        int len;
        if (code < clear) {
            out[pos] = uchar(code);
            len = 1;
        } else if (code < next) {
            len = length[code];
            const uchar *src = out + start[code];
            if (len <= 16) {
                uchar tmp[16];
                std::memcpy(tmp, src, 16);
                std::memcpy(out + pos, tmp, 16);
            } else {
                std::memcpy(out + pos, src, size_t(std::min<qint64>(len, pixelCount - pos)));
            }
        } else if (code == next && next < kTableSize) {
            // The string being defined: the previous one plus its own first pixel. Source and
            // destination overlap, so it is copied forwards byte by byte.
            len = prevLength + 1;
            const qint64 n = std::min<qint64>(len, pixelCount - pos);
            const uchar *src = out + prevStart;
            uchar *dst = out + pos;
            for (qint64 i = 0; i < n; ++i)
                dst[i] = src[i];
        } else {
            result.corrupted = true; // a code beyond the table
            break;
        }
        if (len > kMaxString) {
            result.corrupted = true;
            break;
        }
        if (next < kTableSize) {
            start[next] = quint32(prevStart);
            length[next] = quint16(prevLength + 1);
            ++next;
            if (next == (1u << width) && width < kMaxWidth) {
                ++width;
                mask = (1u << width) - 1;
            }
        }
        prevStart = pos;
        prevLength = len;
        pos += len;
        if (pos >= nextCheck) {
            nextCheck += step;
            const qint64 done = size > 0 ? (size * 8 - bitsLeft) * 100 / (size * 8) : 100;
            if (progress(int(std::min<qint64>(done, 100)))) {
                result.cancelled = true;
                break;
            }
        }
    }
    result.pixels = std::min(pos, pixelCount);
    if (result.pixels < pixelCount)
        result.corrupted = true;
    return result;
}

Encoder::Encoder(int codeSize)
    : m_codeSize(codeSize)
    , m_clear(1u << codeSize)
{
    if (!freeTables().empty()) {
        m_table = std::move(freeTables().back());
        freeTables().pop_back();
    } else {
        m_table = std::make_unique<Slots>();
        m_table->entries.assign(kHashSlots, 0);
    }
    m_out.resize(4096);
    resetTable();
    putCode(m_clear);
}

Encoder::~Encoder()
{
    // Only a few tables are kept: one per encoder alive at the same time on this thread.
    if (freeTables().size() < 4)
        freeTables().push_back(std::move(m_table));
}

void Encoder::resetTable()
{
    m_width = m_codeSize + 1;
    m_next = m_clear + 2;
    // Slots of older generations count as empty, so nothing needs clearing.
    if (++m_table->generation == 0) {
        std::fill(m_table->entries.begin(), m_table->entries.end(), 0);
        m_table->generation = 1;
    }
}

void Encoder::putCode(unsigned code)
{
    m_bits |= quint64(code) << m_bitCount;
    m_bitCount += m_width;
    if (m_bitCount >= 32) {
        if (m_outSize + 8 > m_out.size())
            m_out.resize(m_out.size() * 2);
        const quint32 word = qToLittleEndian(quint32(m_bits));
        std::memcpy(m_out.data() + m_outSize, &word, 4);
        m_outSize += 4;
        m_bits >>= 32;
        m_bitCount -= 32;
    }
}

void Encoder::write(const uchar *pixels, qint64 count)
{
    qint64 i = 0;
    quint64 gen = quint64(m_table->generation) << 32;
    quint64 *hashTable = m_table->entries.data();
    int prefix = m_prefix;
    for (; i < count; ++i) {
        const unsigned pixel = pixels[i];
        if (prefix < 0) {
            prefix = int(pixel);
            continue;
        }
        const quint32 key = quint32(prefix) << 8 | pixel;
        const quint64 wanted = gen | quint64(key) << 12;
        // Fibonacci hashing to 14 bits: one multiply on the critical path. Home slots lie in the
        // first 16384; probing runs on through all 17777 and wraps.
        unsigned h = (key * 0x9E3779B1u) >> 18;
        for (;;) {
            const quint64 slot = hashTable[h];
            if ((slot & ~quint64(0xFFF)) == wanted) {
                prefix = int(slot & 0xFFF);
                goto found;
            }
            if ((slot >> 32) != (gen >> 32))
                break;
            if (++h == kHashSlots)
                h = 0;
        }
        putCode(unsigned(prefix));
        if (m_next == (1u << m_width) && m_width < kMaxWidth)
            ++m_width;
        hashTable[h] = wanted | m_next;
        if (m_next++ == kResetCode) {
            putCode(pixel);
            putCode(m_clear);
            resetTable();
            gen = quint64(m_table->generation) << 32;
            prefix = -1;
        } else {
            prefix = int(pixel);
        }
    found:;
    }
    m_prefix = prefix;
}

QByteArray Encoder::finish()
{
    if (m_prefix >= 0) {
        putCode(unsigned(m_prefix));
        // The decoder adds a code for this last string and may widen before the end code.
        if (m_next == (1u << m_width) && m_width < kMaxWidth)
            ++m_width;
        m_prefix = -1;
    }
    putCode(m_clear + 1);
    while (m_bitCount > 0) {
        if (m_outSize + 1 > m_out.size())
            m_out.resize(m_out.size() * 2);
        m_out[m_outSize++] = char(m_bits & 0xFF);
        m_bits >>= 8;
        m_bitCount -= 8;
    }
    m_bitCount = 0;
    m_out.resize(m_outSize);
    return m_out;
}

QByteArray frameSubBlocks(int codeSize, const QByteArray &packed)
{
    QByteArray data;
    const qsizetype blocks = (packed.size() + 254) / 255;
    data.reserve(1 + packed.size() + blocks + 1);
    data.append(char(codeSize));
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const qsizetype n = std::min<qsizetype>(255, packed.size() - at);
        data.append(char(n));
        data.append(packed.constData() + at, n);
    }
    data.append('\0');
    return data;
}

} // namespace images::lzw
