#include "gifbuilder.h"
#include "gifsupport.h"

using images::NoneColor;
using images::rgbColor;
using images::TExtensionKind;
using images::TGIFImage;

TEST(GifReading, VersionWords)
{
    const struct
    {
        const char *header;
        int version; // 0: rejected
    } cases[] = { { "GIF87a", 1 }, { "GIF89a", 2 }, { "gif89A", 2 }, { "Gif87A", 1 }, { "GIF88a", 0 }, { "GIX89a", 0 },
        { "GIF90a", 0 } };
    for (const auto &c : cases) {
        TGIFImage image;
        const QByteArray bytes = GifBuilder(c.header).screen(4, 4, 1).image(4, 4).trailer().bytes();
        const QString error = graphicError([&] { loadGif(image, bytes); });
        if (c.version == 0) {
            EXPECT_EQ(error, "Unknown GIF version") << c.header;
        } else {
            EXPECT_EQ(error, "") << c.header;
            EXPECT_EQ(image.GIFVersion, c.version) << c.header;
        }
    }
    TGIFImage image;
    EXPECT_EQ(graphicError([&] { loadGif(image, "GIF8"); }), "Unknown GIF version");
    EXPECT_EQ(graphicError([&] { loadGif(image, "GIF89a\x04"); }), "Stream read error");
}

TEST(GifReading, ScreenTablesAndReadingFromTheStreamPosition)
{
    const QByteArray gif = GifBuilder().screen(10, 6, 2, 3, 49).image(4, 4).trailer().bytes();
    framework::MemoryStream stream(QByteArray("prefix") + gif);
    stream.setPosition(6);
    TGIFImage image;
    image.LoadFromStream(stream);
    EXPECT_EQ(stream.position(), stream.size());
    EXPECT_EQ(image.ScreenWidth, 10);
    EXPECT_EQ(image.ScreenHeight, 6);
    EXPECT_EQ(image.Data()->Aspect, 49);
    EXPECT_EQ(image.Data()->GlobalTableBits, 2);
    EXPECT_EQ(image.Data()->ColorResolution, 2);
    ASSERT_EQ(image.Data()->GlobalColorTable.size(), 4);
    EXPECT_EQ(image.BackgroundColor, image.Data()->GlobalColorTable[3]);
    EXPECT_EQ(image.CurrentFrame, 0);
    // The frame without a table of its own takes the global one.
    EXPECT_FALSE(image.Frame(0).HasLocalTable);
    EXPECT_EQ(image.Frame(0).Item->ColorMap, image.Data()->GlobalColorTable);
    EXPECT_TRUE(image.Frame(0).hasBitmap()) << "the first frame is decoded at once";

    TGIFImage outside;
    loadGif(outside, GifBuilder().screen(4, 4, 1, 2).image(4, 4).trailer().bytes());
    EXPECT_EQ(outside.BackgroundColor, NoneColor);
}

TEST(GifReading, LoopCountIsCappedAndNeedsTheRightBlock)
{
    const struct
    {
        int count, first;
        bool enabled;
        int expected;
    } cases[] = { { 65535, 1, true, 30000 }, { 30001, 1, true, 30000 }, { 7, 1, true, 7 }, { 0, 1, true, 0 },
        { 7, 2, false, 1 } };
    for (const auto &c : cases) {
        TGIFImage image;
        loadGif(image, GifBuilder().screen(4, 4, 1).loop(c.count, c.first).image(4, 4).trailer().bytes());
        EXPECT_EQ(image.LoopEnabled, c.enabled) << c.count;
        EXPECT_EQ(image.LoopCount, c.expected) << c.count;
        EXPECT_TRUE(image.Frame(0).Extensions.empty()) << "application blocks are not kept";
    }
    TGIFImage shortBlock;
    loadGif(shortBlock,
        GifBuilder().screen(4, 4, 1).extension(0xFF, "\x0BNETSCAPE2.0", { "\x01\x05" }).image(4, 4).trailer().bytes());
    EXPECT_FALSE(shortBlock.LoopEnabled);
}

TEST(GifReading, GraphicControlGivesTransparencyDelayAndDisposal)
{
    TGIFImage image;
    loadGif(image,
        GifBuilder()
            .screen(4, 4, 2)
            .control(0x09, 37, 2) // disposal 2, transparent
            .comment({ "hello" })
            .image(4, 4)
            .control(0x01, 0, 9) // index outside the table
            .image(4, 4)
            .trailer()
            .bytes());
    ASSERT_EQ(image.FrameCount(), 2);
    images::TGIFFrame &first = image.Frame(0);
    EXPECT_EQ(first.TransparentColor, image.Data()->GlobalColorTable[2]);
    EXPECT_EQ(first.DelayMs, 370);
    EXPECT_EQ(first.DisposalCode, 2);
    ASSERT_EQ(first.Extensions.size(), 2u);
    EXPECT_EQ(first.Extensions[0]->ExtensionKind, TExtensionKind::ekGraphicControl);
    EXPECT_EQ(first.Extensions[0]->ExtensionHeader.size(), 6);
    EXPECT_EQ(first.Comment(), QByteArrayList { "hello" });
    EXPECT_EQ(image.Frame(1).TransparentColor, NoneColor);
}

TEST(GifReading, PlainTextDropsTheRunBeforeIt)
{
    TGIFImage image;
    loadGif(image,
        GifBuilder()
            .screen(4, 4, 1)
            .control(0x01, 10, 0)
            .extension(0x01, QByteArray(13, '\x0C'), { "text" })
            .comment({ "after" })
            .image(4, 4)
            .trailer()
            .bytes());
    ASSERT_EQ(image.Frame(0).Extensions.size(), 1u);
    EXPECT_EQ(image.Frame(0).Extensions[0]->ExtensionKind, TExtensionKind::ekComment);
    EXPECT_EQ(image.Frame(0).TransparentColor, NoneColor);
    EXPECT_EQ(image.Frame(0).DelayMs, 0);
}

TEST(GifReading, UnknownExtensionLabelsAreSkippedAndKeptWithTheirImage)
{
    TGIFImage image;
    loadGif(image,
        GifBuilder()
            .screen(4, 4, 1)
            .extension(0x2A, {}, { "one", QByteArray(255, 'x') })
            .image(4, 4)
            .extension(0x99, {}, { "dropped with the run" })
            .extension(0xCE, {}, { "cut short" })
            .bytes()
            .chopped(4));
    ASSERT_EQ(image.FrameCount(), 1);
    ASSERT_EQ(image.Frame(0).Extensions.size(), 1u);
    const images::TExtension &kept = *image.Frame(0).Extensions[0];
    EXPECT_EQ(kept.label(), 0x2A);
    EXPECT_EQ(kept.ExtensionData, QByteArrayList({ "one", QByteArray(255, 'x') }));
}

TEST(GifReading, CommentsOutsideImagesBecomeTheImageComment)
{
    TGIFImage image;
    loadGif(image,
        GifBuilder()
            .screen(4, 4, 1)
            .image(4, 4)
            .comment({ "first", "line" })
            .control(0, 5, 0) // dropped with the run
            .comment({ "second" })
            .trailer()
            .bytes());
    EXPECT_EQ(image.Data()->ImageComment, (QByteArrayList { "first", "line", "", "second" }));
    EXPECT_EQ(image.FrameCount(), 1);

    // Only the first such run counts.
    TGIFImage twice;
    loadGif(twice,
        GifBuilder().screen(4, 4, 1).comment({ "one" }).byte(0).comment({ "two" }).image(4, 4).trailer().bytes());
    EXPECT_EQ(twice.Data()->ImageComment, QByteArrayList { "one" });
    EXPECT_EQ(twice.Frame(0).Comment(), QByteArrayList { "two" });
}

TEST(GifReading, WhatFollowsARunOrAnImage)
{
    TGIFImage image;
    EXPECT_EQ(graphicError(
                  [&] { loadGif(image, GifBuilder().screen(4, 4, 1).image(4, 4).comment({ "c" }).byte('x').bytes()); }),
        "Stream read error");

    // After an image, zeros are skipped and any other byte ends reading quietly.
    TGIFImage quiet;
    loadGif(quiet, GifBuilder().screen(4, 4, 1).image(4, 4).byte(0).byte(0).image(4, 4).byte('x').image(4, 4).bytes());
    EXPECT_EQ(quiet.FrameCount(), 2);

    // The end of the data counts as the trailer.
    TGIFImage unterminated;
    loadGif(unterminated, GifBuilder().screen(4, 4, 1).image(4, 4).comment({ "c" }).bytes());
    EXPECT_EQ(unterminated.FrameCount(), 1);
    EXPECT_EQ(unterminated.Data()->ImageComment, QByteArrayList { "c" });
}

TEST(GifReading, StoredPropertyFormCarriesItsLength)
{
    TGIFImage image;
    image.Assign(images::TBitmap(3, 2, 8));
    framework::MemoryStream stored;
    image.WriteData(stored);
    const QByteArray bytes = stored.bytes();
    const quint32 length = quint32(uchar(bytes[0])) | quint32(uchar(bytes[1])) << 8;
    EXPECT_EQ(qsizetype(length) + 4, bytes.size());
    EXPECT_TRUE(bytes.mid(4).startsWith("GIF87a"));

    framework::MemoryStream in(bytes + "more");
    TGIFImage copy;
    copy.ReadData(in);
    EXPECT_EQ(in.position(), bytes.size());
    EXPECT_EQ(copy.Width(), 3);

    framework::MemoryStream cut(bytes.left(bytes.size() - 1));
    EXPECT_EQ(graphicError([&] { copy.ReadData(cut); }), "Stream read error");
}
