#include "images/bitmap.h"

#include "framework/picture.h"

#include <cstring>

namespace images {

TBitmap::TBitmap(int width, int height, int bitsPerPixel)
{
    const bool depthOk
        = bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 24 || bitsPerPixel == 32;
    if (!depthOk || width < 0 || height < 0 || width > 65535 || height > 65535)
        throw framework::EInvalidGraphicOperation(QStringLiteral("Invalid bitmap format"));
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bitsPerPixel;
    m_stride = ((qsizetype(width) * bitsPerPixel + 31) / 32) * 4;
    m_bits = QByteArray(m_stride * height, '\0');
    if (indexed()) {
        const int count = 1 << bitsPerPixel;
        m_palette.reserve(count);
        for (int i = 0; i < count; ++i) {
            const int level = count == 1 ? 0 : i * 255 / (count - 1);
            m_palette.append(rgbColor(level, level, level));
        }
    }
}

uchar *TBitmap::scanLine(int y)
{
    return reinterpret_cast<uchar *>(m_bits.data()) + (m_height - 1 - y) * m_stride;
}

const uchar *TBitmap::scanLine(int y) const
{
    return reinterpret_cast<const uchar *>(m_bits.constData()) + (m_height - 1 - y) * m_stride;
}

void TBitmap::setPalette(QList<TColor> palette)
{
    if (indexed() && palette.size() > (1 << m_bitsPerPixel))
        palette.resize(1 << m_bitsPerPixel);
    m_palette = std::move(palette);
}

int TBitmap::pixelIndex(int x, int y) const
{
    const uchar *row = scanLine(y);
    switch (m_bitsPerPixel) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case 8:
        return row[x];
    default:
        return 0;
    }
}

void TBitmap::setPixelIndex(int x, int y, int index)
{
    uchar *row = scanLine(y);
    switch (m_bitsPerPixel) {
    case 1: {
        const uchar mask = uchar(0x80 >> (x & 7));
        row[x >> 3] = (index & 1) ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask);
        break;
    }
    case 4:
        if (x & 1)
            row[x >> 1] = uchar((row[x >> 1] & 0xF0) | (index & 0x0F));
        else
            row[x >> 1] = uchar((row[x >> 1] & 0x0F) | (index & 0x0F) << 4);
        break;
    case 8:
        row[x] = uchar(index);
        break;
    default:
        break;
    }
}

TColor TBitmap::pixelColor(int x, int y) const
{
    if (indexed()) {
        const int index = pixelIndex(x, y);
        return index < m_palette.size() ? m_palette[index] : 0;
    }
    const uchar *p = scanLine(y) + x * (m_bitsPerPixel / 8);
    return rgbColor(p[2], p[1], p[0]);
}

void TBitmap::setPixelColor(int x, int y, TColor color)
{
    if (indexed() || m_bitsPerPixel == 0)
        return;
    uchar *p = scanLine(y) + x * (m_bitsPerPixel / 8);
    p[0] = uchar(color);
    p[1] = uchar(color >> 8);
    p[2] = uchar(color >> 16);
}

QImage TBitmap::toImage(TColor leaveOut) const
{
    if (empty())
        return QImage();
    const bool alpha = leaveOut != NoneColor;
    QImage image(m_width, m_height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QRgb table[256];
    if (indexed()) {
        for (int i = 0; i < 256; ++i) {
            const TColor c = i < m_palette.size() ? m_palette[i] : 0;
            table[i] = (alpha && c == leaveOut) ? 0u : (0xFF000000u | c);
        }
    }
    for (int y = 0; y < m_height; ++y) {
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        const uchar *row = scanLine(y);
        switch (m_bitsPerPixel) {
        case 8:
            for (int x = 0; x < m_width; ++x)
                out[x] = table[row[x]];
            break;
        case 1:
        case 4:
            for (int x = 0; x < m_width; ++x)
                out[x] = table[pixelIndex(x, y)];
            break;
        default: {
            const int step = m_bitsPerPixel / 8;
            for (int x = 0; x < m_width; ++x, row += step) {
                const TColor c = rgbColor(row[2], row[1], row[0]);
                out[x] = (alpha && c == leaveOut) ? 0u : (0xFF000000u | c);
            }
        }
        }
    }
    return image;
}

TBitmap TBitmap::fromImage(const QImage &image)
{
    if (image.isNull())
        return TBitmap();
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono
        || image.format() == QImage::Format_MonoLSB) {
        const QImage source
            = image.format() == QImage::Format_MonoLSB ? image.convertToFormat(QImage::Format_Mono) : image;
        const int depth = source.format() == QImage::Format_Mono ? 1 : 8;
        TBitmap bitmap(source.width(), source.height(), depth);
        QList<TColor> palette;
        for (QRgb c : source.colorTable())
            palette.append(c & 0xFFFFFF);
        // A bitmap's palette has an entry for every index its depth can hold.
        while (palette.size() < (1 << depth))
            palette.append(0);
        bitmap.setPalette(palette);
        const qsizetype bytes = (qsizetype(source.width()) * depth + 7) / 8;
        for (int y = 0; y < source.height(); ++y)
            std::memcpy(bitmap.scanLine(y), source.constScanLine(y), size_t(bytes));
        return bitmap;
    }
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    TBitmap bitmap(source.width(), source.height(), 32);
    for (int y = 0; y < source.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        uchar *out = bitmap.scanLine(y);
        for (int x = 0; x < source.width(); ++x) {
            out[4 * x] = uchar(qBlue(in[x]));
            out[4 * x + 1] = uchar(qGreen(in[x]));
            out[4 * x + 2] = uchar(qRed(in[x]));
            out[4 * x + 3] = 0;
        }
    }
    return bitmap;
}

} // namespace images
