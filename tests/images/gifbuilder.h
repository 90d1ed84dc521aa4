#pragma once

#include "images/bitmap.h"
#include "images/giflzw.h"

#include <QByteArray>
#include <QByteArrayList>

#include <vector>

// Builds GIF bytes block by block, for files no common encoder would write.
class GifBuilder
{
public:
    explicit GifBuilder(const char *version = "GIF89a") { m_bytes.append(version, 6); }

    GifBuilder &screen(int width, int height, int globalBits, int background = 0, int aspect = 0)
    {
        word(width);
        word(height);
        byte(globalBits > 0 ? 0x80 | (globalBits - 1) << 4 | (globalBits - 1) : 0);
        byte(background);
        byte(aspect);
        for (int i = 0; i < (globalBits > 0 ? 1 << globalBits : 0); ++i)
            color(images::rgbColor(i * 3, 255 - i, i * 7));
        return *this;
    }
    GifBuilder &color(images::TColor c)
    {
        byte(int(c >> 16) & 0xFF);
        byte(int(c >> 8) & 0xFF);
        byte(int(c) & 0xFF);
        return *this;
    }
    GifBuilder &control(int flags, int delay, int transparent)
    {
        m_bytes.append("!\xF9\x04", 3);
        byte(flags);
        word(delay);
        byte(transparent);
        byte(0);
        return *this;
    }
    GifBuilder &extension(int label, const QByteArray &header, const QByteArrayList &blocks)
    {
        byte('!');
        byte(label);
        m_bytes.append(header);
        for (const QByteArray &b : blocks) {
            byte(int(b.size()));
            m_bytes.append(b);
        }
        byte(0);
        return *this;
    }
    GifBuilder &comment(const QByteArrayList &blocks) { return extension(0xFE, {}, blocks); }
    GifBuilder &loop(int count, int first = 1)
    {
        QByteArray block;
        block.append(char(first)).append(char(count & 0xFF)).append(char(count >> 8));
        return extension(0xFF, QByteArray("\x0BNETSCAPE2.0", 12), { block });
    }
    GifBuilder &descriptor(int left, int top, int width, int height, int packed)
    {
        byte(',');
        word(left);
        word(top);
        word(width);
        word(height);
        byte(packed);
        return *this;
    }
    // Pixels encoded with the given code size, in sub-blocks of up to 255 bytes.
    GifBuilder &pixels(int codeSize, const std::vector<uchar> &values)
    {
        images::lzw::Encoder encoder(codeSize);
        encoder.write(values.data(), qint64(values.size()));
        m_bytes.append(images::lzw::frameSubBlocks(codeSize, encoder.finish()));
        return *this;
    }
    // Codes as given (LSB first, starting at codeSize + 1 bits, no widening), in one sub-block.
    GifBuilder &rawCodes(int codeSize, const std::vector<int> &codes)
    {
        QByteArray packed;
        quint32 bits = 0;
        int count = 0;
        for (int code : codes) {
            bits |= quint32(code) << count;
            count += codeSize + 1;
            while (count >= 8) {
                packed.append(char(bits & 0xFF));
                bits >>= 8;
                count -= 8;
            }
        }
        if (count > 0)
            packed.append(char(bits & 0xFF));
        byte(codeSize);
        byte(int(packed.size()));
        m_bytes.append(packed);
        byte(0);
        return *this;
    }
    GifBuilder &image(int width, int height, int codeSize = 2, uchar value = 1)
    {
        descriptor(0, 0, width, height, 0);
        return pixels(codeSize, std::vector<uchar>(size_t(width) * size_t(height), value));
    }
    GifBuilder &byte(int v)
    {
        m_bytes.append(char(v));
        return *this;
    }
    GifBuilder &word(int v) { return byte(v & 0xFF).byte((v >> 8) & 0xFF); }
    GifBuilder &raw(const QByteArray &bytes)
    {
        m_bytes.append(bytes);
        return *this;
    }
    GifBuilder &trailer() { return byte(';'); }

    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};
