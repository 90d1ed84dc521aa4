// Damaged and hostile input: every case ends in the codec's error or a Corrupted frame.
#include "gifbuilder.h"
#include "gifpeer.h"
#include "gifsupport.h"

#include <map>
#include <random>

using images::TGIFImage;

namespace {

QByteArray sampleAnimation()
{
    std::vector<uchar> pixels;
    for (int i = 0; i < 30 * 20; ++i)
        pixels.push_back(uchar((i * 7 + i / 30) % 256));
    return GifBuilder()
        .screen(30, 20, 8)
        .loop(2)
        .control(0x05, 10, 3)
        .comment({ "frame one" })
        .descriptor(0, 0, 30, 20, 0)
        .pixels(8, pixels)
        .control(0x00, 20, 0)
        .descriptor(5, 5, 10, 10, 0xC3) // local table of 16, interlaced
        .raw(QByteArray(48, '\x11'))
        .pixels(4, std::vector<uchar>(100, 9))
        .comment({ "the end" })
        .trailer()
        .bytes();
}

// Loads and decodes every frame; only the codec's own errors may come out.
void survive(const QByteArray &bytes)
{
    TGIFImage image;
    try {
        loadGif(image, bytes);
    } catch (const framework::EInvalidGraphicOperation &) {
        return;
    }
    for (int i = 0; i < image.FrameCount(); ++i) {
        try {
            const images::TBitmap &bitmap = image.Frame(i).FrameBitmap();
            if (!bitmap.empty()) {
                ASSERT_EQ(bitmap.bits().size(), bitmap.stride() * bitmap.height());
            }
        } catch (const framework::EInvalidGraphicOperation &) { }
    }
}

const images::TGIFFrame &onlyFrame(TGIFImage &image, const QByteArray &bytes)
{
    loadGif(image, bytes);
    EXPECT_EQ(image.FrameCount(), 1);
    return image.Frame(0);
}

} // namespace

TEST(GifMalformed, EveryTruncationIsSurvived)
{
    const QByteArray gif = sampleAnimation();
    for (qsizetype n = 0; n <= gif.size(); ++n) {
        SCOPED_TRACE(n);
        survive(gif.left(n));
    }
}

TEST(GifMalformed, RandomDamageIsSurvived)
{
    const QByteArray gif = sampleAnimation();
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = gif;
        const int changes = 1 + int(random() % 4);
        for (int i = 0; i < changes; ++i)
            damaged[qsizetype(random() % unsigned(damaged.size()))] = char(random());
        survive(damaged);
    }
}

TEST(GifMalformed, CutShortDataKeepsWhatWasDecoded)
{
    std::vector<uchar> rows;
    for (int i = 0; i < 64 * 64; ++i)
        rows.push_back(uchar(i / 64));
    const QByteArray whole = GifBuilder().screen(64, 64, 8).descriptor(0, 0, 64, 64, 0).pixels(8, rows).bytes();
    TGIFImage image;
    const images::TGIFFrame &frame = onlyFrame(image, whole.left(whole.size() - 300));
    EXPECT_TRUE(frame.Corrupted);
    const images::TBitmap &bitmap = image.Frame(0).FrameBitmap();
    ASSERT_EQ(bitmap.height(), 64);
    EXPECT_EQ(bitmap.pixelIndex(10, 3), 3);
    EXPECT_EQ(bitmap.pixelIndex(10, 63), 0) << "the part not decoded stays 0";
}

TEST(GifMalformed, CutShortDescriptors)
{
    // A file cut inside its first image descriptor has no picture at all: that is an error, not an
    // empty image. A cut in a later descriptor keeps the frames before it.
    const QByteArray screen = GifBuilder().screen(4, 4, 1).bytes();
    const QByteArray descriptor = GifBuilder().descriptor(0, 0, 4, 4, 0).bytes().mid(6);
    const QByteArray oneImage = GifBuilder().screen(4, 4, 1).image(4, 4).bytes();
    const struct
    {
        const char *what;
        QByteArray bytes;
        QString error;
        int frames;
    } cases[] = {
        { "only the introducer", screen + ",", "Stream read error", 0 },
        { "five of nine bytes", screen + descriptor.left(6), "Stream read error", 0 },
        { "after a graphic control", GifBuilder().screen(4, 4, 1).control(0, 5, 0).bytes() + descriptor.left(8),
            "Stream read error", 0 },
        { "second descriptor", oneImage + descriptor.left(4), "", 1 },
        { "no image at all", screen, "", 0 },
    };
    for (const auto &c : cases) {
        TGIFImage image;
        EXPECT_EQ(graphicError([&] { loadGif(image, c.bytes); }), c.error) << c.what;
        EXPECT_EQ(image.FrameCount(), c.frames) << c.what;
    }
}

TEST(GifMalformed, BadCodesMarkTheFrameCorrupted)
{
    // clear 4, end 5, first free code 6.
    const struct
    {
        const char *what;
        std::vector<int> codes;
        bool corrupted;
    } cases[] = {
        { "code beyond the table", { 4, 1, 7 }, true },
        { "first code after clear is not a pixel", { 4, 6 }, true },
        { "string being defined (valid)", { 4, 1, 6, 5 }, false },
        { "end code before the picture is full", { 4, 1, 5 }, true },
        { "no data at all", {}, true },
    };
    for (const auto &c : cases) {
        TGIFImage image;
        const QByteArray gif = GifBuilder().screen(3, 1, 2).descriptor(0, 0, 3, 1, 0).rawCodes(2, c.codes).bytes();
        loadGif(image, gif);
        EXPECT_EQ(image.Frame(0).Corrupted, c.corrupted) << c.what;
        EXPECT_EQ(image.Frame(0).Width(), 3) << c.what;
    }
}

TEST(GifMalformed, CodeSizesAndDepthsOutOfRange)
{
    for (int codeSize : { 0, 1, 10, 255 }) {
        TGIFImage image;
        const QByteArray gif
            = GifBuilder().screen(4, 4, 1).descriptor(0, 0, 4, 4, 0).byte(codeSize).byte(1).byte(0).byte(0).bytes();
        EXPECT_EQ(graphicError([&] { loadGif(image, gif); }), "GIF code size not in range 2 to 9") << codeSize;
        EXPECT_TRUE(image.Empty()) << "the frame that failed is removed";
    }
    // A later frame fails only when it is used.
    TGIFImage image;
    loadGif(image, GifBuilder().screen(4, 4, 1).image(4, 4).descriptor(0, 0, 4, 4, 0).raw("\x01\x01\x00\x00").bytes());
    ASSERT_EQ(image.FrameCount(), 2);
    EXPECT_EQ(graphicError([&] { image.Frame(1).FrameBitmap(); }), "GIF code size not in range 2 to 9");

    for (int bits : { 0, 9 }) {
        TGIFImage two;
        loadGif(two, GifBuilder().screen(4, 4, 1).image(4, 4).image(4, 4).bytes());
        two.Frame(1).Item->BitsPerPixel = bits;
        EXPECT_EQ(graphicError([&] { two.Frame(1).FrameBitmap(); }), "Wrong number of colors; must be a power of 2");
    }
}

TEST(GifMalformed, AbsurdSizesCostNoMemory)
{
    // 65535 x 65535 pixels claimed by a few bytes of data.
    TGIFImage image;
    const images::TGIFFrame &frame = onlyFrame(
        image, GifBuilder().screen(65535, 65535, 1).descriptor(0, 0, 65535, 65535, 0).rawCodes(2, { 4, 1 }).bytes());
    EXPECT_TRUE(frame.Corrupted);
    EXPECT_TRUE(image.Frame(0).FrameBitmap().empty());
}

TEST(GifMalformed, EndlessSubBlocksEndWithTheData)
{
    QByteArray blocks;
    for (int i = 0; i < 4000; ++i)
        blocks.append(char(255)).append(QByteArray(255, char(0xFF)));
    TGIFImage image;
    loadGif(image, GifBuilder().screen(8, 8, 1).comment({ "x" }).descriptor(0, 0, 8, 8, 0).byte(2).raw(blocks).bytes());
    EXPECT_TRUE(image.Frame(0).Corrupted);
    EXPECT_EQ(image.Frame(0).Width(), 8);
}

TEST(GifMalformed, FullTableWithoutClearKeepsDecoding)
{
    // An encoder that never sends a clear code: once 4096 codes exist it goes on with 12-bit
    // codes of the full table (the deferred clear).
    std::mt19937 random(99);
    std::vector<uchar> pixels(200 * 200);
    for (uchar &p : pixels)
        p = uchar(random() % 256);
    const int codeSize = 8, clear = 256, end = 257;
    std::map<std::pair<int, int>, int> table;
    std::vector<int> codes { clear };
    int next = clear + 2, prefix = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        const auto found = table.find({ prefix, pixels[i] });
        if (found != table.end()) {
            prefix = found->second;
            continue;
        }
        codes.push_back(prefix);
        if (next < 4096)
            table[{ prefix, pixels[i] }] = next++;
        prefix = pixels[i];
    }
    codes.push_back(prefix);
    codes.push_back(end);
    ASSERT_GT(codes.size(), 4096u + 1000u);

    // Packed with the widths a decoder uses.
    QByteArray packed;
    quint64 bits = 0;
    int count = 0, width = codeSize + 1, decoderNext = clear + 2;
    for (size_t j = 0; j < codes.size(); ++j) {
        bits |= quint64(codes[j]) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8)
            packed.append(char(bits & 0xFF));
        if (j >= 2 && decoderNext < 4096 && ++decoderNext == (1 << width) && width < 12)
            ++width;
    }
    if (count > 0)
        packed.append(char(bits & 0xFF));
    QByteArray data(1, char(codeSize));
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        data.append(char(std::min<qsizetype>(255, packed.size() - at)));
        data.append(packed.mid(at, 255));
    }
    data.append('\0');

    const QByteArray gif = GifBuilder().screen(200, 200, 8).descriptor(0, 0, 200, 200, 0).raw(data).trailer().bytes();
    TGIFImage image;
    loadGif(image, gif);
    EXPECT_FALSE(image.Frame(0).Corrupted);
    EXPECT_EQ(gifpeer::indices(image.Frame(0).FrameBitmap()), pixels);
    const gifpeer::File reference = gifpeer::decode(gif);
    ASSERT_TRUE(reference.ok);
    EXPECT_EQ(reference.frames.at(0).pixels, pixels);
}
