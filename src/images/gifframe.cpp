// A GIF frame: decoding its data to a bitmap on first use, encoding a bitmap back before saving,
// and the graphic control and comment extensions that go with it.
#include "images/gifimage.h"

#include "images/giflzw.h"
#include "images/quantize.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

using framework::EInvalidGraphicOperation;
using framework::TProgressStage;

namespace images {

namespace {

constexpr TColor kMissingEntry = 0x808080; // palette entries beyond the colour map

int bitsForCount(qsizetype count)
{
    int bits = 1;
    while ((qsizetype(1) << bits) < count && bits < 8)
        ++bits;
    return bits;
}

// The image row that the n-th decoded row fills.
struct RowOrder
{
    RowOrder(int height, bool interlaced)
        : m_height(height)
        , m_interlaced(interlaced)
    { }
    int next()
    {
        if (!m_interlaced)
            return m_row++;
        static constexpr int kStart[4] = { 0, 4, 2, 1 };
        static constexpr int kStep[4] = { 8, 8, 4, 2 };
        if (m_pass < 0) {
            m_pass = 0;
            m_row = 0;
        } else {
            m_row += kStep[m_pass];
        }
        while (m_row >= m_height && m_pass < 3) {
            ++m_pass;
            m_row = kStart[m_pass];
        }
        return m_row;
    }

private:
    int m_height;
    bool m_interlaced;
    int m_pass = -1;
    int m_row = 0;
};

} // namespace

quint8 TExtension::label() const
{
    switch (ExtensionKind) {
    case TExtensionKind::ekGraphicControl:
        return 0xF9;
    case TExtensionKind::ekPlainText:
        return 0x01;
    case TExtensionKind::ekApplication:
        return 0xFF;
    case TExtensionKind::ekComment:
        return 0xFE;
    case TExtensionKind::ekUnknown:
        return UnknownLabel;
    }
    return 0xFE;
}

TGIFFrame::TGIFFrame(TGIFImage *owner)
    : Item(std::make_shared<TGIFItem>())
    , m_owner(owner)
{ }

const TBitmap &TGIFFrame::FrameBitmap()
{
    if (!m_bitmap)
        decode();
    static const TBitmap kNone;
    return m_bitmap ? *m_bitmap : kNone;
}

void TGIFFrame::decode()
{
    TGIFImage *image = m_owner;
    auto progress = [image](TProgressStage stage, int percent, const QString &msg = QString()) {
        return image && image->reportProgress(stage, percent, msg);
    };
    auto fail = [&](const QString &text) {
        progress(TProgressStage::psEnding, 100, text);
        throw EInvalidGraphicOperation(text);
    };
    if (progress(TProgressStage::psStarting, 0))
        return;

    const QByteArray &data = Item->ImageData.bytes();
    const int codeSize = data.isEmpty() ? 0 : uchar(data[0]);
    if (codeSize < 2 || codeSize > 9)
        fail(QStringLiteral("GIF code size not in range 2 to 9"));
    const int depth = Item->BitsPerPixel;
    const int bitmapDepth = depth == 1 ? 1 : (depth >= 2 && depth <= 4) ? 4 : (depth >= 5 && depth <= 8) ? 8 : 0;
    if (bitmapDepth == 0)
        fail(QStringLiteral("Wrong number of colors; must be a power of 2"));

    // The codes without their sub-block framing.
    QByteArray codes;
    codes.reserve(data.size() + lzw::kDataPadding);
    for (qsizetype at = 1; at < data.size();) {
        const int length = uchar(data[at++]);
        if (length == 0)
            break;
        const qsizetype n = std::min<qsizetype>(length, data.size() - at);
        codes.append(data.constData() + at, n);
        at += n;
    }
    const qint64 codeBytes = codes.size();
    codes.append(QByteArray(lzw::kDataPadding, '\0'));

    const int width = Item->Width;
    const int height = Item->Height;
    const qint64 pixelCount = qint64(width) * height;
    // The data bounds the picture it can describe: the k-th code gives at most k pixels (a string
    // grows by one pixel per code) and never more than 4096. A size beyond that is a lie that
    // must not cost memory.
    const qint64 maxCodes = codeBytes * 8 / (codeSize + 1);
    const qint64 ramp = std::min<qint64>(maxCodes, 4096);
    // Small pictures are always made, so that a frame without data still has its size.
    const qint64 maxPixels = std::max<qint64>(ramp * (ramp + 1) / 2 + (maxCodes - ramp) * 4096, 65536);
    if (pixelCount > maxPixels) {
        Corrupted = true;
        m_bitmap = TBitmap();
        progress(TProgressStage::psEnding, 100);
        return;
    }

    TBitmap bitmap(width, height, bitmapDepth);
    QList<TColor> palette;
    for (int i = 0; i < (1 << bitmapDepth); ++i)
        palette.append(i < Item->ColorMap.size() ? Item->ColorMap[i] : kMissingEntry);
    bitmap.setPalette(palette);

    if (pixelCount > 0) {
        auto pixels = std::make_unique_for_overwrite<uchar[]>(size_t(pixelCount + lzw::kPixelPadding));
        const lzw::DecodeResult result
            = lzw::decode(codeSize, reinterpret_cast<const uchar *>(codes.constData()), codeBytes, pixels.get(),
                pixelCount, [&](int percent) { return progress(TProgressStage::psRunning, percent); });
        if (result.cancelled)
            return;
        if (result.corrupted)
            Corrupted = true;
        std::memset(pixels.get() + result.pixels, 0, size_t(pixelCount - result.pixels));

        RowOrder order(height, Interlaced);
        const uchar mask = uchar((1 << bitmapDepth) - 1);
        for (int r = 0; r < height; ++r) {
            const uchar *in = pixels.get() + qint64(r) * width;
            uchar *out = bitmap.scanLine(order.next());
            if (bitmapDepth == 8) {
                std::memcpy(out, in, size_t(width));
            } else if (bitmapDepth == 4) {
                for (int x = 0; x + 1 < width; x += 2)
                    out[x >> 1] = uchar((in[x] & mask) << 4 | (in[x + 1] & mask));
                if (width & 1)
                    out[width >> 1] = uchar((in[width - 1] & mask) << 4);
            } else {
                for (int x = 0; x < width; x += 8) {
                    uchar b = 0;
                    const int n = std::min(8, width - x);
                    for (int i = 0; i < n; ++i)
                        b |= uchar((in[x + i] & 1) << (7 - i));
                    out[x >> 3] = b;
                }
            }
        }
    }
    bitmap.transparentIndex = m_transparentIndex;
    m_bitmap = std::move(bitmap);
    progress(TProgressStage::psEnding, 100);
}

void TGIFFrame::SetFrameBitmap(const TBitmap &bitmap)
{
    m_bitmap = bitmap;
    Item = std::make_shared<TGIFItem>();
    Item->Width = quint16(bitmap.width());
    Item->Height = quint16(bitmap.height());
    Interlaced = false;
    Corrupted = false;
    HasLocalTable = false;
    m_transparentIndex = -1;
    if (bitmap.transparent && bitmap.transparentColor != NoneColor)
        TransparentColor = bitmap.transparentColor;
    // Which pixels are transparent, where the palette lists the transparent colour twice.
    const int index = bitmap.transparentIndex;
    if (TransparentColor != NoneColor && bitmap.indexed() && index >= 0 && index < bitmap.palette().size()
        && bitmap.palette()[index] == TransparentColor)
        m_transparentIndex = index;
}

QByteArrayList &TGIFFrame::Comment()
{
    for (auto &extension : Extensions)
        if (extension->ExtensionKind == TExtensionKind::ekComment)
            return extension->ExtensionData;
    Extensions.push_back(std::make_unique<TExtension>(TExtensionKind::ekComment));
    return Extensions.back()->ExtensionData;
}

void TGIFFrame::copyFrom(const TGIFFrame &other)
{
    Item = other.Item;
    Extensions.clear();
    for (const auto &extension : other.Extensions)
        Extensions.push_back(std::make_unique<TExtension>(*extension));
    TopLeft = other.TopLeft;
    Interlaced = other.Interlaced;
    HasLocalTable = other.HasLocalTable;
    Corrupted = other.Corrupted;
    Grayscale = other.Grayscale;
    TransparentColor = other.TransparentColor;
    DelayMs = other.DelayMs;
    DisposalCode = other.DisposalCode;
    m_bitmap = other.m_bitmap;
    m_transparentIndex = other.m_transparentIndex;
}

void TGIFFrame::encode()
{
    TGIFImage *image = m_owner;
    auto progress = [image](TProgressStage stage, int percent, const QString &msg = QString()) {
        return image && image->reportProgress(stage, percent, msg);
    };
    if (!m_bitmap || m_bitmap->empty())
        throw EInvalidGraphicOperation(QStringLiteral("No GIF Data to write"));
    progress(TProgressStage::psStarting, 0);

    // The transparent pixels get an index that no opaque pixel shares, even where the palette lists
    // the transparent colour more than once.
    TBitmap bitmap = *m_bitmap;
    int transparentIndex = TransparentColor == NoneColor ? -1 : m_transparentIndex;
    std::array<uchar, 256> remap;
    std::iota(remap.begin(), remap.end(), uchar(0));
    bool remapping = false;
    if (bitmap.bitsPerPixel() != 1 && bitmap.bitsPerPixel() != 4 && bitmap.bitsPerPixel() != 8) {
        bitmap = reduceTo8Bits(bitmap, Grayscale, TransparentColor);
        if (TransparentColor != NoneColor) // the reduction gives it the last entry, its own
            transparentIndex = int(bitmap.palette().size()) - 1;
    } else if (TransparentColor != NoneColor && transparentIndex < 0) {
        // Transparent by colour: every pixel of that colour is, whichever entry it uses.
        const QList<TColor> &palette = bitmap.palette();
        transparentIndex = int(palette.indexOf(TransparentColor));
        for (int i = transparentIndex + 1; transparentIndex >= 0 && i < palette.size(); ++i) {
            if (palette[i] == TransparentColor) {
                remap[size_t(i)] = uchar(transparentIndex);
                remapping = true;
            }
        }
    }
    const int depth = bitmap.bitsPerPixel();
    if (depth != 1 && depth != 4 && depth != 8) {
        const QString text = QStringLiteral("GIF image encoding error");
        progress(TProgressStage::psEnding, 100, text);
        throw EInvalidGraphicOperation(text);
    }

    auto item = std::make_shared<TGIFItem>();
    item->Width = quint16(bitmap.width());
    item->Height = quint16(bitmap.height());
    item->ColorMap = bitmap.palette().mid(0, 256);
    item->BitsPerPixel = bitsForCount(item->ColorMap.size());
    const int codeSize = std::max(2, depth);

    lzw::Encoder encoder(codeSize);
    std::vector<uchar> row(size_t(bitmap.width()));
    const int step = std::max(1, bitmap.height() / 16);
    for (int y = 0; y < bitmap.height(); ++y) {
        if (y % step == 0 && y > 0)
            progress(TProgressStage::psRunning, y * 100 / bitmap.height());
        const uchar *line = bitmap.scanLine(y);
        if (depth == 8 && !remapping) {
            encoder.write(line, bitmap.width());
            continue;
        }
        for (int x = 0; x < bitmap.width(); ++x)
            row[size_t(x)] = remap[depth == 8 ? line[x]
                    : depth == 4              ? (x & 1 ? line[x >> 1] & 0x0F : line[x >> 1] >> 4)
                                              : (line[x >> 3] >> (7 - (x & 7))) & 1];
        encoder.write(row.data(), bitmap.width());
    }
    item->ImageData = framework::MemoryStream(lzw::frameSubBlocks(codeSize, encoder.finish()));
    Item = std::move(item);
    Interlaced = false;
    Corrupted = false;
    m_transparentIndex = transparentIndex;
    bitmap.transparentIndex = transparentIndex;

    if (image) {
        TGIFData &data = image->mutableData();
        if (data.GlobalColorTable.isEmpty()) {
            data.GlobalColorTable = Item->ColorMap;
            data.GlobalTableBits = Item->BitsPerPixel;
            data.ColorResolution = Item->BitsPerPixel;
            HasLocalTable = false;
        } else {
            HasLocalTable = true;
        }
        image->coverFrame(*this);
    } else {
        HasLocalTable = true;
    }
    if (bitmap.bitsPerPixel() != m_bitmap->bitsPerPixel())
        m_bitmap = bitmap; // what is drawn is what is saved
    progress(TProgressStage::psEnding, 100);
}

} // namespace images
