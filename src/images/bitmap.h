#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

#include <cstdint>

namespace images {

// A colour as 0x00RRGGBB. NoneColor marks "no colour" (no transparent colour, no background).
using TColor = quint32;
inline constexpr TColor NoneColor = 0x1FFFFFFF;

inline constexpr TColor rgbColor(int r, int g, int b)
{
    return TColor(r & 0xFF) << 16 | TColor(g & 0xFF) << 8 | TColor(b & 0xFF);
}

// A device-independent bitmap: 1, 4 or 8 bits per pixel with a palette, or 24/32 bits per pixel
// (blue, green, red[, unused] bytes). Rows are padded to 32 bits and stored bottom-up, as the
// platform's bitmaps are; scanLine() hides that and counts rows from the top. In 1- and 4-bit
// rows the leftmost pixel is in the high bits of a byte. The pixel store is implicitly shared,
// so copies are cheap until one is written.
class TBitmap
{
public:
    TBitmap() = default;
    // bitsPerPixel: 1, 4, 8, 24 or 32; a palette of 2^bits grey levels is set for the indexed
    // depths. Pixels start as 0. Sizes beyond 65535 or other depths raise
    // framework::EInvalidGraphicOperation.
    TBitmap(int width, int height, int bitsPerPixel);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int bitsPerPixel() const { return m_bitsPerPixel; }
    bool empty() const { return m_width == 0 || m_height == 0; }
    bool indexed() const { return m_bitsPerPixel <= 8 && m_bitsPerPixel > 0; }
    // Bytes per row (a multiple of 4).
    qsizetype stride() const { return m_stride; }

    // Row y counted from the top (0 <= y < height).
    uchar *scanLine(int y);
    const uchar *scanLine(int y) const;
    // The whole pixel store, bottom row first.
    const QByteArray &bits() const { return m_bits; }

    // Indexed bitmaps only; at most 2^bitsPerPixel entries.
    const QList<TColor> &palette() const { return m_palette; }
    void setPalette(QList<TColor> palette);

    int pixelIndex(int x, int y) const;
    void setPixelIndex(int x, int y, int index);
    // The colour of a pixel (through the palette for indexed bitmaps; an index outside the palette
    // gives black).
    TColor pixelColor(int x, int y) const;
    // 24/32-bit bitmaps only.
    void setPixelColor(int x, int y, TColor color);

    // Transparency as a bitmap carries it: a flag and the colour that is left out when drawing.
    bool transparent = false;
    TColor transparentColor = NoneColor;
    // For an indexed bitmap whose palette may list the transparent colour more than once (a GIF
    // frame's): the entry whose pixels are the transparent ones; -1 when not known.
    int transparentIndex = -1;

    // A copy as a QImage (ARGB32 when leaveOut is a colour other than NoneColor, with that colour
    // made fully transparent; else RGB32).
    QImage toImage(TColor leaveOut = NoneColor) const;
    // Indexed8 and 1-bit images keep their palette and depth; every other format becomes 32 bits.
    static TBitmap fromImage(const QImage &image);

private:
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 0;
    qsizetype m_stride = 0;
    QByteArray m_bits;
    QList<TColor> m_palette;
};

} // namespace images
