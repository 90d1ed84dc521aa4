#include "gifbuilder.h"
#include "gifpeer.h"
#include "gifsupport.h"

using images::NoneColor;
using images::rgbColor;
using images::TBitmap;
using images::TGIFImage;

namespace {

// The offset of the first image descriptor (",") after the header, screen and global table.
qsizetype firstImage(const QByteArray &gif)
{
    qsizetype at = 13;
    if (uchar(gif[10]) & 0x80)
        at += 3 * (1 << ((uchar(gif[10]) & 7) + 1));
    while (at < gif.size() && gif[at] == '!') {
        at += 2;
        if (uchar(gif[at - 1]) == 0xF9) {
            at += 6;
            continue;
        }
        while (at < gif.size() && gif[at] != 0)
            at += 1 + uchar(gif[at]);
        ++at;
    }
    return at;
}

TBitmap bitmapOf(int depth, int width = 8, int height = 4)
{
    TBitmap bitmap(width, height, depth);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.setPixelIndex(x, y, (x + y) % (1 << std::min(depth, 8)));
    return bitmap;
}

} // namespace

TEST(GifWriting, LoopBlockOnlyWithSeveralFrames)
{
    TGIFImage image;
    image.Assign(bitmapOf(8));
    image.LoopEnabled = true;
    image.LoopCount = 513;
    EXPECT_FALSE(saveGif(image).contains("NETSCAPE2.0"));

    image.AddFrame(bitmapOf(8));
    const QByteArray gif = saveGif(image);
    const qsizetype at = gif.indexOf("NETSCAPE2.0");
    ASSERT_GT(at, 0);
    EXPECT_EQ(gif.mid(at - 3, 3), QByteArray("!\xFF\x0B"));
    EXPECT_EQ(gif.mid(at + 11, 5), QByteArray("\x03\x01\x01\x02\x00", 5));
    TGIFImage back;
    loadGif(back, gif);
    EXPECT_TRUE(back.LoopEnabled);
    EXPECT_EQ(back.LoopCount, 513);
}

TEST(GifWriting, CodeSizeFollowsTheBitmapDepth)
{
    for (const auto &[depth, codeSize] : { std::pair { 1, 2 }, std::pair { 4, 4 }, std::pair { 8, 8 } }) {
        TGIFImage image;
        image.Assign(bitmapOf(depth));
        const QByteArray gif = saveGif(image);
        const qsizetype at = firstImage(gif);
        ASSERT_EQ(gif[at], ',');
        EXPECT_EQ(int(gif[at + 10]), codeSize) << depth;
        EXPECT_EQ(image.Frame(0).Item->BitsPerPixel, depth) << depth;
        EXPECT_EQ(uchar(gif[10]), 0x80 | (depth - 1) << 4 | (depth - 1)) << "global table from the frame";
    }
}

TEST(GifWriting, CommentLinesAreCutTo255Bytes)
{
    TGIFImage image;
    image.Assign(bitmapOf(8));
    image.mutableData().ImageComment = { QByteArray(300, 'c'), "", "short" };
    const QByteArray gif = saveGif(image);
    const qsizetype at = gif.indexOf("!\xFE");
    ASSERT_GT(at, 0);
    // One 255-byte sub-block, then "short"; the empty line has no sub-block of its own, since
    // its zero length would end the comment.
    EXPECT_EQ(uchar(gif[at + 2]), 255);
    EXPECT_EQ(gif.mid(at + 258, 7), QByteArray("\x05short\x00", 7));
    EXPECT_EQ(gif.mid(at + 265), ";");
    EXPECT_TRUE(gif.startsWith("GIF89a"));
    EXPECT_TRUE(gifpeer::decode(gif).ok);
    TGIFImage back;
    loadGif(back, gif);
    EXPECT_EQ(back.Data()->ImageComment, (QByteArrayList { QByteArray(255, 'c'), "short" }));
}

TEST(GifWriting, GraphicControlIsMadeAndUpdatedBeforeSaving)
{
    TGIFImage image;
    TBitmap bitmap = bitmapOf(8);
    image.Assign(bitmap);
    images::TGIFFrame &frame = image.Frame(0);
    frame.DelayMs = 55;
    frame.DisposalCode = 3;
    frame.TransparentColor = bitmap.palette()[6];
    QByteArray gif = saveGif(image);
    EXPECT_TRUE(gif.startsWith("GIF89a"));
    const qsizetype at = gif.indexOf("!\xF9");
    ASSERT_GT(at, 0);
    EXPECT_EQ(gif.mid(at + 2, 6), QByteArray("\x04\x0D\x05\x00\x06\x00", 6));

    // No transparent colour in the map: the flag is cleared.
    frame.TransparentColor = rgbColor(1, 2, 3);
    gif = saveGif(image);
    EXPECT_EQ(gif.mid(gif.indexOf("!\xF9") + 3, 1), QByteArray("\x0C"));

    // Very long delays stay within the 16-bit field.
    frame.DelayMs = 700000;
    gif = saveGif(image);
    EXPECT_EQ(gif.mid(gif.indexOf("!\xF9") + 4, 2), QByteArray("\xFF\xFF"));
}

TEST(GifWriting, VersionFollowsContent)
{
    TGIFImage plain;
    plain.Assign(bitmapOf(4));
    EXPECT_TRUE(saveGif(plain).startsWith("GIF87a"));
    plain.Frame(0).Comment(); // an empty comment is removed, so still 87a
    EXPECT_TRUE(saveGif(plain).startsWith("GIF87a"));
    EXPECT_TRUE(plain.Frame(0).Extensions.empty());
    plain.Frame(0).Comment().append("note");
    EXPECT_TRUE(saveGif(plain).startsWith("GIF89a"));

    TGIFImage two;
    two.Assign(bitmapOf(4));
    EXPECT_EQ(two.GIFVersion, 1);
    two.AddFrame(bitmapOf(4));
    EXPECT_EQ(two.GIFVersion, 2);

    // A loop block is an extension: never in an 87a file.
    TGIFImage looping;
    loadGif(looping, GifBuilder("GIF87a").screen(4, 4, 1).image(4, 4).image(4, 4).trailer().bytes());
    looping.LoopEnabled = true;
    EXPECT_TRUE(saveGif(looping).startsWith("GIF89a"));
}

TEST(GifWriting, NothingToWrite)
{
    TGIFImage empty;
    EXPECT_EQ(graphicError([&] { saveGif(empty); }), "No GIF Data to write");
    TGIFImage blank;
    blank.AddFrame(TBitmap());
    EXPECT_EQ(graphicError([&] { saveGif(blank); }), "No GIF Data to write");
}

TEST(GifWriting, ScreenCoversEveryFrame)
{
    TGIFImage image;
    image.Assign(bitmapOf(8, 10, 5));
    image.AddFrame(bitmapOf(8, 4, 20)).TopLeft = QPoint(30, 2);
    const gifpeer::File decoded = gifpeer::decode(saveGif(image));
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, 34);
    EXPECT_EQ(decoded.height, 22);
}

TEST(GifWriting, ReadFilesWriteBackAsRead)
{
    // Colour 5 repeats colour 2: the transparent entry and background stay the ones the file named.
    GifBuilder builder;
    builder.word(4).word(2).byte(0xA2).byte(5).byte(0);
    for (int i = 0; i < 8; ++i)
        builder.color(i == 5 ? rgbColor(6, 253, 14) : rgbColor(i * 3, 255 - i, i * 7));
    const QByteArray source = builder.control(0x01, 0, 5)
                                  .descriptor(0, 0, 4, 2, 0)
                                  .pixels(3, { 5, 2, 5, 2, 0, 1, 5, 5 })
                                  .comment({ "about" })
                                  .trailer()
                                  .bytes();
    TGIFImage image;
    loadGif(image, source);
    EXPECT_EQ(saveGif(image), source);
}

TEST(GifWriting, TruncatedFramesAreWrittenAsWellFormedData)
{
    const QByteArray whole = GifBuilder()
                                 .screen(40, 40, 8)
                                 .descriptor(0, 0, 40, 40, 0)
                                 .pixels(8, std::vector<uchar>(1600, 7))
                                 .trailer()
                                 .bytes();
    const qsizetype afterDescriptor = 6 + 7 + 3 * 256 + 10;
    // Cut inside the data, and right after the descriptor (not even the code size byte).
    for (const qsizetype cut : { whole.size() - 6, afterDescriptor }) {
        SCOPED_TRACE(cut);
        TGIFImage image;
        loadGif(image, whole.left(cut));
        ASSERT_EQ(image.FrameCount(), 1);
        EXPECT_TRUE(image.Frame(0).Corrupted);
        EXPECT_EQ(image.Frame(0).Width(), 40);
        // The cut-off data must end where its frame ends, or the frame after it would be lost.
        image.AddFrame(bitmapOf(8));
        TGIFImage back;
        loadGif(back, saveGif(image));
        ASSERT_EQ(back.FrameCount(), 2);
        EXPECT_EQ(back.Frame(1).FrameBitmap().pixelIndex(3, 2), 5);
        EXPECT_EQ(gifpeer::decode(saveGif(back)).error, 112) << "giflib finds only the short image";
    }
}
