#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace images::lzw {

// Padding the decoder may read past the data and write past the pixels (bytes).
inline constexpr int kDataPadding = 8;
inline constexpr int kPixelPadding = 32;

struct DecodeResult
{
    qint64 pixels = 0; // pixels written (at most pixelCount)
    bool corrupted = false; // a bad code, a string too long, or the data ended early
    bool cancelled = false;
};

// Called now and then with the percentage of the data consumed; returns true to cancel.
using ProgressCheck = std::function<bool(int percent)>;

// Decodes GIF LZW codes (least significant bit first) of the given minimum code size (2..9) from
// data (the sub-blocks' bytes joined, followed by kDataPadding readable bytes) into out, one byte
// per pixel (pixel values beyond 8 bits keep their low 8 bits). out must have room for pixelCount
// + kPixelPadding bytes. Stops at the end code, when pixelCount pixels are written, at the end of
// the data, or at the first bad code.
DecodeResult decode(
    int codeSize, const uchar *data, qint64 size, uchar *out, qint64 pixelCount, const ProgressCheck &progress = {});

// Encodes pixels (values below 2^codeSize) as GIF LZW codes into packed bytes, without sub-block
// framing. Feed the pixels in order, in any number of pieces, then call finish().
class Encoder
{
public:
    // The string table's hash slots, tagged with the generation of the table that filled them,
    // so starting over (or a new frame) needs no clearing. Reused between encoders of a thread.
    struct Slots
    {
        std::vector<quint64> entries;
        quint32 generation = 0;
    };
    explicit Encoder(int codeSize);
    ~Encoder();
    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;
    void write(const uchar *pixels, qint64 count);
    // Writes the last code and the end code; returns the packed bytes.
    QByteArray finish();

private:
    void putCode(unsigned code);
    void resetTable();

    int m_codeSize;
    unsigned m_clear;
    int m_width;
    unsigned m_next;
    int m_prefix = -1;
    std::unique_ptr<Slots> m_table;
    QByteArray m_out;
    qsizetype m_outSize = 0;
    quint64 m_bits = 0;
    int m_bitCount = 0;
};

// Frames packed LZW bytes as a GIF image data block: the code size byte, sub-blocks of up to 255
// bytes, and the zero terminator.
QByteArray frameSubBlocks(int codeSize, const QByteArray &packed);

} // namespace images::lzw
