// The codec against independent decoders and encoders: files made by ImageMagick and giflib must
// decode to exactly what giflib decodes, and files this codec writes must decode with giflib to
// exactly the source pixels.
#include "gifpeer.h"
#include "images/gifimage.h"

#include <gtest/gtest.h>

#include <random>

using images::TBitmap;
using images::TColor;
using images::TGIFImage;

namespace {

QByteArray save(TGIFImage &image)
{
    framework::MemoryStream stream;
    image.SaveToStream(stream);
    return stream.bytes();
}

void load(TGIFImage &image, const QByteArray &bytes)
{
    framework::MemoryStream stream(bytes);
    image.LoadFromStream(stream);
}

// Every frame of our decoding equals giflib's: place, colours, indices, transparency, delay.
void expectSameAsGiflib(const QByteArray &gif, const char *what)
{
    SCOPED_TRACE(what);
    const gifpeer::File reference = gifpeer::decode(gif);
    ASSERT_TRUE(reference.ok) << "giflib error " << reference.error;
    TGIFImage image;
    load(image, gif);
    ASSERT_EQ(image.FrameCount(), int(reference.frames.size()));
    for (int i = 0; i < image.FrameCount(); ++i) {
        SCOPED_TRACE(i);
        images::TGIFFrame &frame = image.Frame(i);
        const gifpeer::Frame &expected = reference.frames[size_t(i)];
        const TBitmap &bitmap = frame.FrameBitmap();
        EXPECT_FALSE(frame.Corrupted);
        EXPECT_EQ(frame.TopLeft, QPoint(expected.left, expected.top));
        EXPECT_EQ(frame.Interlaced, expected.interlaced);
        ASSERT_EQ(bitmap.width(), expected.width);
        ASSERT_EQ(bitmap.height(), expected.height);
        EXPECT_EQ(gifpeer::indices(bitmap), expected.pixels);
        for (size_t c = 0; c < expected.colors.size(); ++c)
            ASSERT_EQ(bitmap.palette().value(qsizetype(c)), expected.colors[c]) << "colour " << c;
        if (expected.transparent >= 0)
            EXPECT_EQ(frame.TransparentColor, expected.colors[size_t(expected.transparent)]);
        else
            EXPECT_EQ(frame.TransparentColor, images::NoneColor);
        EXPECT_EQ(frame.DelayMs, expected.delay * 10);
    }
}

std::vector<uchar> noise(int count, int range, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<uchar> pixels(size_t(count), 0);
    for (uchar &p : pixels)
        p = uchar(random() % unsigned(range));
    return pixels;
}

std::vector<TColor> rainbow(int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<TColor> colors;
    for (int i = 0; i < count; ++i)
        colors.push_back(random() & 0xFFFFFF);
    return colors;
}

// Writes the bitmap as a one-frame GIF with this codec and checks giflib's reading of it.
void expectRoundTripThroughGiflib(const TBitmap &bitmap, const char *what)
{
    SCOPED_TRACE(what);
    TGIFImage image;
    image.Assign(bitmap);
    const QByteArray gif = save(image);
    const gifpeer::File decoded = gifpeer::decode(gif);
    ASSERT_TRUE(decoded.ok) << "giflib error " << decoded.error;
    ASSERT_EQ(decoded.frames.size(), 1u);
    EXPECT_EQ(decoded.frames[0].pixels, gifpeer::indices(bitmap));
    for (int c = 0; c < bitmap.palette().size(); ++c)
        EXPECT_EQ(decoded.frames[0].colors.at(size_t(c)), bitmap.palette()[c]);
}

} // namespace

TEST(GifInterop, ImageMagickFilesDecodeAsGiflibDecodes)
{
    if (!gifpeer::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    const struct
    {
        const char *what;
        QStringList arguments;
    } cases[] = {
        { "photo, 256 colours", { "-seed", "3", "-size", "150x100", "plasma:fractal", "+dither", "-colors", "256" } },
        { "interlaced", { "-seed", "4", "-size", "97x61", "plasma:fractal", "-colors", "200", "-interlace", "GIF" } },
        { "16 colours", { "-size", "61x47", "gradient:red-blue", "+dither", "-colors", "16" } },
        { "two colours", { "-size", "65x33", "pattern:checkerboard", "-colors", "2" } },
        { "transparent",
            { "-size", "50x40", "xc:white", "-fill", "red", "-draw", "circle 25,20 25,5", "-transparent", "white" } },
        { "solid, large", { "-size", "700x500", "xc:navy" } },
        { "animated, local tables",
            { "-delay", "55", "-loop", "3", "-size", "40x30", "gradient:red-blue", "-size", "30x20",
                "gradient:green-yellow", "-page", "+5+7", "-size", "16x16", "plasma:fractal", "+dither", "-colors",
                "64" } },
    };
    for (const auto &c : cases) {
        const QByteArray gif = gifpeer::imageMagick(c.arguments, QStringLiteral("out.gif"));
        ASSERT_FALSE(gif.isEmpty()) << c.what;
        expectSameAsGiflib(gif, c.what);
    }
}

TEST(GifInterop, GiflibFilesDecodeAsGiflibDecodes)
{
    if (gifpeer::haveImageMagick()) {
        // giftool reads the file and writes it again with giflib's encoder (its delay option only
        // changes graphic control blocks that exist; there is none here).
        const QByteArray source = gifpeer::imageMagick(
            { "-seed", "5", "-size", "77x45", "plasma:fractal", "-colors", "100", "-interlace", "GIF" },
            QStringLiteral("in.gif"));
        const QByteArray rewritten = gifpeer::giflibTool("giftool", { "-d", "33" }, source);
        ASSERT_FALSE(rewritten.isEmpty()) << "giftool failed";
        expectSameAsGiflib(rewritten, "giftool output");
        TGIFImage image;
        load(image, rewritten);
        EXPECT_NE(rewritten, source);
        EXPECT_TRUE(image.Frame(0).Interlaced);
    }
    gifpeer::EncodeFrame big { 257, 199, noise(257 * 199, 256, 1), rainbow(256, 2) };
    gifpeer::EncodeFrame interlaced { 33, 21, noise(33 * 21, 16, 3), rainbow(16, 4), true };
    gifpeer::EncodeFrame tiny { 1, 1, { 1 }, rainbow(2, 5) };
    expectSameAsGiflib(gifpeer::encode({ big }, false), "noise, global table");
    expectSameAsGiflib(gifpeer::encode({ interlaced }, true), "interlaced, local table");
    expectSameAsGiflib(gifpeer::encode({ big, interlaced, tiny }, true), "three frames, local tables");
}

TEST(GifInterop, UnknownExtensionBlocksAreSkippedAndWrittenBackUnchanged)
{
    // giflib's gifbuild writes extension blocks of any label, as gifsicle and others do.
    const QByteArray description = "screen width 4\nscreen height 3\nscreen colors 2\n"
                                   "screen map\nrgb 255 255 255 is 0\nrgb 0 0 0 is 1\nend\n"
                                   "extension 99\nfirst block\n\\x01\\x02second\nend\n"
                                   "extension 7E\nabc\nend\n"
                                   "image # 1\nimage bits 4 by 3\n0110\n1001\n0110\n"
                                   "extension CE\n\\x00\\x01\\x02\nend\n"
                                   "graphics control\ndisposal mode 1\ndelay 7\ntransparent index 1\nend\n"
                                   "image # 2\nimage bits 4 by 3\n1111\n0000\n1010\n";
    const QByteArray gif = gifpeer::giflibTool("gifbuild", {}, description);
    ASSERT_FALSE(gif.isEmpty()) << "gifbuild failed";
    expectSameAsGiflib(gif, "unknown extension blocks");

    const auto unknownBlocks = [](const gifpeer::Frame &frame) {
        std::vector<std::pair<int, QByteArrayList>> blocks;
        for (const auto &block : frame.extensions)
            if (block.first != 0xF9 && block.first != 0xFE && block.first != 0xFF && block.first != 0x01)
                blocks.push_back(block);
        return blocks;
    };
    const gifpeer::File source = gifpeer::decode(gif);
    ASSERT_EQ(source.frames.size(), 2u);
    ASSERT_EQ(unknownBlocks(source.frames[0]).size(), 2u);
    TGIFImage image;
    load(image, gif);
    const gifpeer::File saved = gifpeer::decode(save(image));
    ASSERT_TRUE(saved.ok);
    ASSERT_EQ(saved.frames.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(unknownBlocks(saved.frames[i]), unknownBlocks(source.frames[i])) << i;
        EXPECT_EQ(saved.frames[i].pixels, source.frames[i].pixels) << i;
    }
    EXPECT_EQ(saved.frames[1].transparent, 1);
    EXPECT_EQ(saved.frames[1].delay, 7);
}

TEST(GifInterop, ReencodingKeepsTransparentAndOpaquePixelsApart)
{
    const auto transparentPixels = [](const gifpeer::Frame &frame) {
        std::vector<bool> mask;
        for (uchar pixel : frame.pixels)
            mask.push_back(pixel == frame.transparent);
        return mask;
    };
    const auto colours = [](const gifpeer::Frame &frame) {
        std::vector<TColor> seen;
        for (uchar pixel : frame.pixels)
            seen.push_back(frame.colors.at(pixel));
        return seen;
    };
    // Entries 0 and 2 are both black; only 2 is transparent.
    const QByteArray gif = gifpeer::giflibTool("gifbuild", {},
        "screen width 6\nscreen height 2\nscreen colors 4\nscreen map\nrgb 0 0 0 is 0\nrgb 255 255 255 is 1\n"
        "rgb 0 0 0 is 2\nrgb 255 0 0 is 3\nend\ngraphics control\ntransparent index 2\nend\n"
        "image # 1\nimage bits 6 by 2\n022013\n320102\n");
    ASSERT_FALSE(gif.isEmpty()) << "gifbuild failed";
    const gifpeer::File source = gifpeer::decode(gif);
    ASSERT_EQ(source.frames.size(), 1u);

    TGIFImage read;
    load(read, gif);
    TBitmap bitmap;
    read.AssignTo(bitmap);
    TGIFImage viaBitmap;
    viaBitmap.Assign(bitmap);
    TGIFImage sameFrame;
    load(sameFrame, gif);
    sameFrame.Frame(0).SetFrameBitmap(sameFrame.Frame(0).FrameBitmap());
    for (TGIFImage *copy : { &viaBitmap, &sameFrame }) {
        const gifpeer::File written = gifpeer::decode(save(*copy));
        ASSERT_TRUE(written.ok);
        EXPECT_EQ(transparentPixels(written.frames.at(0)), transparentPixels(source.frames[0]));
        EXPECT_EQ(colours(written.frames.at(0)), colours(source.frames[0]));
    }

    // Reduced to grey levels, the black transparent pixels keep an entry apart from the darkest grey.
    TBitmap deep(5, 1, 24);
    const TColor pixels[5] = { 0, images::rgbColor(1, 1, 1), 0xFFFFFF, 0, images::rgbColor(2, 2, 2) };
    for (int x = 0; x < 5; ++x)
        deep.setPixelColor(x, 0, pixels[x]);
    deep.transparent = true;
    deep.transparentColor = 0;
    TGIFImage grey;
    grey.Assign(deep);
    grey.Frame(0).Grayscale = true;
    const gifpeer::File reduced = gifpeer::decode(save(grey));
    ASSERT_TRUE(reduced.ok);
    EXPECT_EQ(transparentPixels(reduced.frames.at(0)), std::vector<bool>({ true, false, false, true, false }));
}

TEST(GifInterop, WrittenFilesDecodeWithGiflibToTheSourcePixels)
{
    expectRoundTripThroughGiflib(
        gifpeer::indexedBitmap(300, 257, 8, noise(300 * 257, 256, 7), rainbow(256, 8)), "8-bit noise");
    expectRoundTripThroughGiflib(
        gifpeer::indexedBitmap(37, 29, 4, noise(37 * 29, 16, 9), rainbow(16, 10)), "4-bit, odd width");
    expectRoundTripThroughGiflib(gifpeer::indexedBitmap(71, 13, 1, noise(71 * 13, 2, 11), rainbow(2, 12)), "1-bit");
    expectRoundTripThroughGiflib(
        gifpeer::indexedBitmap(1000, 700, 8, std::vector<uchar>(700000, 5), rainbow(256, 13)), "one colour");
    std::vector<uchar> gradient;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x)
            gradient.push_back(uchar((x + y) / 2));
    expectRoundTripThroughGiflib(gifpeer::indexedBitmap(320, 200, 8, gradient, rainbow(256, 14)), "gradient");
    expectRoundTripThroughGiflib(gifpeer::indexedBitmap(1, 1, 8, { 200 }, rainbow(256, 15)), "one pixel");
}

TEST(GifInterop, WrittenAnimationWithLocalTablesAndTransparency)
{
    TGIFImage image;
    const TBitmap first = gifpeer::indexedBitmap(40, 30, 8, noise(1200, 256, 21), rainbow(256, 22));
    TBitmap second = gifpeer::indexedBitmap(20, 10, 4, noise(200, 16, 23), rainbow(16, 24));
    image.AddFrame(first).DelayMs = 120;
    images::TGIFFrame &frame = image.AddFrame(second);
    frame.TopLeft = QPoint(7, 9);
    frame.TransparentColor = second.palette()[3];
    frame.DisposalCode = 2;
    const QByteArray gif = save(image);

    const gifpeer::File decoded = gifpeer::decode(gif);
    ASSERT_TRUE(decoded.ok);
    ASSERT_EQ(decoded.frames.size(), 2u);
    EXPECT_EQ(decoded.width, 40);
    EXPECT_EQ(decoded.height, 30);
    EXPECT_EQ(decoded.frames[0].pixels, gifpeer::indices(first));
    EXPECT_EQ(decoded.frames[0].delay, 12);
    EXPECT_FALSE(decoded.frames[0].localTable);
    EXPECT_EQ(decoded.frames[1].pixels, gifpeer::indices(second));
    EXPECT_TRUE(decoded.frames[1].localTable);
    EXPECT_EQ(decoded.frames[1].left, 7);
    EXPECT_EQ(decoded.frames[1].top, 9);
    EXPECT_EQ(decoded.frames[1].transparent, 3);
    EXPECT_EQ(decoded.frames[1].disposal, 2);
    EXPECT_EQ(std::vector<TColor>(decoded.frames[1].colors.begin(), decoded.frames[1].colors.begin() + 16),
        std::vector<TColor>(second.palette().begin(), second.palette().end()));
}

TEST(GifInterop, InterlacedInputIsWrittenBackReadably)
{
    gifpeer::EncodeFrame interlaced { 45, 37, noise(45 * 37, 256, 31), rainbow(256, 32), true };
    const QByteArray source = gifpeer::encode({ interlaced }, false);
    TGIFImage image;
    load(image, source);
    ASSERT_TRUE(image.Frame(0).Interlaced);

    // Saved as read: the stored data and its interlace flag travel unchanged.
    const gifpeer::File same = gifpeer::decode(save(image));
    ASSERT_TRUE(same.ok);
    EXPECT_TRUE(same.frames.at(0).interlaced);
    EXPECT_EQ(same.frames.at(0).pixels, interlaced.pixels);

    // Re-encoded from its bitmap: sequential rows, same pixels.
    TGIFImage copy;
    copy.Assign(image.Frame(0).FrameBitmap());
    const gifpeer::File reencoded = gifpeer::decode(save(copy));
    ASSERT_TRUE(reencoded.ok);
    EXPECT_FALSE(reencoded.frames.at(0).interlaced);
    EXPECT_EQ(reencoded.frames.at(0).pixels, interlaced.pixels);
}
