// The picture side of the codec: registration, assignment, drawing, clipboard, progress and the
// colour reduction of deep bitmaps.
#include "gifbuilder.h"
#include "gifpeer.h"
#include "gifsupport.h"
#include "images/quantize.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>

#include <cmath>
#include <set>

using images::NoneColor;
using images::rgbColor;
using images::TBitmap;
using images::TColor;
using images::TGIFImage;

namespace {

TBitmap deepBitmap(int width, int height, const std::function<TColor(int, int)> &color)
{
    TBitmap bitmap(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.setPixelColor(x, y, color(x, y));
    return bitmap;
}

} // namespace

TEST(GifImage, RegisteredWithThePictureSupportWhenAsked)
{
    // Nothing registers behind a program's back: a static object in a static library is left out
    // of programs that do not name its class, so each program registers at its start.
    EXPECT_EQ(framework::findGraphicFormat("gif"), nullptr);
    images::registerGifImage();
    images::registerGifImage(); // twice is harmless
    ASSERT_EQ(framework::graphicFormats().size(), 1);
    const framework::GraphicFormat *format = framework::findGraphicFormat(".GIF");
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->extension, "gif");
    EXPECT_EQ(format->description, "CompuServe GIF Image");
    EXPECT_NE(dynamic_cast<TGIFImage *>(format->create().get()), nullptr);
    EXPECT_TRUE(framework::graphicFilter().contains("CompuServe GIF Image (*.gif)"));

    QMimeData data;
    data.setData(framework::clipboardMimeType("GIF Image"), "x");
    EXPECT_NE(dynamic_cast<TGIFImage *>(framework::createGraphicForClipboard(data).get()), nullptr);

    images::unregisterGifImage();
    EXPECT_EQ(framework::findGraphicFormat("gif"), nullptr);
    EXPECT_EQ(framework::createGraphicForClipboard(data), nullptr);
    images::registerGifImage();
    EXPECT_NE(framework::findGraphicFormat("gif"), nullptr);
    images::unregisterGifImage();
}

TEST(GifImage, SizeTransparencyAndPalette)
{
    TGIFImage image;
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_FALSE(image.Transparent()) << "set, but no frame has a transparent colour";
    EXPECT_EQ(graphicError([&] { image.SetWidth(5); }), "Cannot change the Size of a GIF image");
    EXPECT_EQ(graphicError([&] { image.SetHeight(5); }), "Cannot change the Size of a GIF image");

    TBitmap bitmap(5, 3, 4);
    bitmap.transparent = true;
    bitmap.transparentColor = bitmap.palette()[2];
    image.Assign(bitmap);
    EXPECT_EQ(image.Width(), 5);
    EXPECT_EQ(image.Height(), 3);
    EXPECT_EQ(image.Palette().size(), 16);
    EXPECT_TRUE(image.Transparent());
    image.SetTransparent(false);
    EXPECT_FALSE(image.Transparent());
}

TEST(GifImage, AssignmentSharesDataAndCopiesSettings)
{
    TGIFImage source;
    loadGif(source,
        GifBuilder()
            .screen(6, 4, 2, 1)
            .loop(9)
            .comment({ "c" })
            .image(6, 4)
            .image(3, 2, 2, 3)
            .comment({ "z" })
            .bytes());
    source.CurrentFrame = 1;
    TGIFImage copy;
    copy.Assign(source);
    EXPECT_EQ(copy.Data(), source.Data());
    ASSERT_EQ(copy.FrameCount(), 2);
    EXPECT_EQ(copy.Frame(1).Item, source.Frame(1).Item);
    EXPECT_EQ(copy.LoopCount, 9);
    EXPECT_EQ(copy.BackgroundColor, source.BackgroundColor);
    EXPECT_EQ(copy.CurrentFrame, 1);
    EXPECT_EQ(saveGif(copy), saveGif(source));

    // A new picture in the copy leaves the source alone.
    copy.Frame(0).SetFrameBitmap(TBitmap(2, 2, 8));
    EXPECT_NE(copy.Frame(0).Item, source.Frame(0).Item);
    EXPECT_EQ(source.Frame(0).Width(), 6);

    TGIFImage single;
    single.Assign(source.Frame(1));
    ASSERT_EQ(single.FrameCount(), 1);
    EXPECT_EQ(single.Data()->GlobalColorTable, source.Frame(1).Item->ColorMap);
    EXPECT_EQ(gifpeer::indices(single.Frame(0).FrameBitmap()), std::vector<uchar>(6, 3));

    TBitmap out;
    source.Frame(0).TransparentColor = source.Data()->GlobalColorTable[1];
    source.CurrentFrame = 0;
    source.AssignTo(out);
    EXPECT_EQ(out.width(), 6);
    EXPECT_TRUE(out.transparent);
    EXPECT_EQ(out.transparentColor, source.Data()->GlobalColorTable[1]);
}

TEST(GifImage, DrawingLeavesTheTransparentColourOut)
{
    TBitmap bitmap(2, 1, 8);
    bitmap.setPalette({ rgbColor(255, 0, 0), rgbColor(0, 0, 255) });
    bitmap.setPixelIndex(1, 0, 1);
    TGIFImage image;
    image.Assign(bitmap);
    image.Frame(0).TransparentColor = rgbColor(0, 0, 255);

    auto draw = [&] {
        QImage canvas(4, 2, QImage::Format_RGB32);
        canvas.fill(Qt::green);
        QPainter painter(&canvas);
        image.Draw(painter, QRect(0, 0, 4, 2));
        painter.end();
        return canvas;
    };
    QImage canvas = draw();
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(3, 1), qRgb(0, 255, 0)) << "stretched, and the blue pixel left out";
    image.SetTransparent(false);
    canvas = draw();
    EXPECT_EQ(canvas.pixel(3, 1), qRgb(0, 0, 255));
}

TEST(GifImage, ClipboardCarriesBitmapAndGifData)
{
    images::registerGifImage(); // as a program with pictures does at its start
    TGIFImage image;
    loadGif(image, GifBuilder().screen(5, 4, 2).image(5, 4, 2, 2).image(5, 4, 2, 1).trailer().bytes());
    image.SaveToClipboard();
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->hasImage());
    const QByteArray block = data->data(framework::clipboardMimeType("GIF Image"));
    ASSERT_GT(block.size(), 4);
    EXPECT_EQ(quint32(uchar(block[0]) | uchar(block[1]) << 8), quint32(block.size() - 4));

    TGIFImage pasted;
    pasted.LoadFromClipboard();
    EXPECT_EQ(pasted.FrameCount(), 2);
    EXPECT_EQ(pasted.Frame(0).FrameBitmap().pixelColor(1, 1), image.Frame(0).FrameBitmap().pixelColor(1, 1));
    EXPECT_EQ(pasted.Frame(1).FrameBitmap().pixelIndex(4, 3), 1);

    // A frame still to be encoded: only the bitmap goes out, and comes back as a one-frame image.
    TGIFImage fresh;
    fresh.Assign(TBitmap(7, 3, 8));
    QMimeData bitmapOnly;
    fresh.SaveToClipboardFormat(bitmapOnly);
    EXPECT_FALSE(bitmapOnly.hasFormat(framework::clipboardMimeType("GIF Image")));
    TGIFImage fromBitmap;
    fromBitmap.LoadFromClipboardFormat(bitmapOnly);
    EXPECT_EQ(fromBitmap.Width(), 7);
    EXPECT_EQ(fromBitmap.GIFVersion, 1);

    QMimeData nothing;
    EXPECT_EQ(graphicError([&] { fromBitmap.LoadFromClipboardFormat(nothing); }), "Unsupported clipboard format");
}

TEST(GifImage, ProgressIsReportedAndCanCancelDecoding)
{
    const QByteArray gif = GifBuilder().screen(4, 4, 1).image(4, 4).image(400, 400).bytes();
    TGIFImage image;
    std::vector<std::pair<framework::TProgressStage, int>> seen;
    QStringList messages;
    bool cancel = false;
    image.OnProgress
        = [&](framework::TGraphic *, framework::TProgressStage stage, int percent, const QString &msg, bool &abort) {
              seen.emplace_back(stage, percent);
              messages << msg;
              abort = cancel && stage == framework::TProgressStage::psStarting;
          };
    loadGif(image, gif);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), std::pair(framework::TProgressStage::psStarting, 0));
    EXPECT_EQ(seen.back(), std::pair(framework::TProgressStage::psEnding, 100));

    cancel = true;
    EXPECT_TRUE(image.Frame(1).FrameBitmap().empty()) << "cancelled: no bitmap, no error";
    EXPECT_FALSE(image.Frame(1).hasBitmap());
    cancel = false;
    seen.clear();
    EXPECT_EQ(image.Frame(1).Width(), 400);
    EXPECT_TRUE(std::any_of(
        seen.begin(), seen.end(), [](const auto &s) { return s.first == framework::TProgressStage::psRunning; }));

    image.Frame(1).Item->ImageData.setSize(0);
    image.Frame(1).SetFrameBitmap(TBitmap(2, 2, 8));
    image.Frame(0).Item->BitsPerPixel = 12;
    image.Frame(0).SetFrameBitmap(TBitmap());
    messages.clear();
    EXPECT_EQ(graphicError([&] { saveGif(image); }), "No GIF Data to write");
}

TEST(GifImage, DeepBitmapsWithFewColoursKeepThemExactly)
{
    const TColor colors[3] = { rgbColor(10, 20, 30), rgbColor(200, 100, 50), rgbColor(1, 2, 3) };
    const TBitmap bitmap = deepBitmap(31, 17, [&](int x, int y) { return colors[(x * y) % 3]; });
    TGIFImage image;
    image.Assign(bitmap);
    image.Frame(0).TransparentColor = colors[2];
    const gifpeer::File decoded = gifpeer::decode(saveGif(image));
    ASSERT_TRUE(decoded.ok);
    const gifpeer::Frame &frame = decoded.frames.at(0);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 31; ++x)
            ASSERT_EQ(frame.colors.at(frame.pixels[size_t(y * 31 + x)]), bitmap.pixelColor(x, y));
    EXPECT_EQ(frame.colors.at(size_t(frame.transparent)), colors[2]);
}

TEST(GifImage, DeepBitmapsAreQuantisedCloselyOrToGrey)
{
    // A smooth photo-like field of far more than 256 colours.
    const TBitmap photo = deepBitmap(128, 96,
        [](int x, int y) { return rgbColor(x * 2, y * 255 / 95, int(128 + 100 * std::sin(x * 0.05 + y * 0.07))); });
    const TColor keep = rgbColor(0, 255, 0);
    TBitmap withKey = photo;
    withKey.setPixelColor(5, 5, keep);
    const TBitmap reduced = images::reduceTo8Bits(withKey, false, keep);
    ASSERT_EQ(reduced.bitsPerPixel(), 8);
    EXPECT_LE(reduced.palette().size(), 256);
    EXPECT_EQ(reduced.pixelColor(5, 5), keep);
    double squared = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x) {
            if (x == 5 && y == 5)
                continue;
            EXPECT_NE(reduced.pixelIndex(x, y), reduced.pixelIndex(5, 5));
            const TColor a = photo.pixelColor(x, y), b = reduced.pixelColor(x, y);
            for (int shift : { 0, 8, 16 }) {
                const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
                squared += d * d;
            }
        }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / (128 * 96 * 3)));
    EXPECT_GT(psnr, 32.0);

    const TBitmap grey = images::reduceTo8Bits(photo, true);
    for (TColor c : grey.palette())
        ASSERT_TRUE((c >> 16 & 0xFF) == (c & 0xFF) && (c >> 8 & 0xFF) == (c & 0xFF));
    const TColor p = photo.pixelColor(40, 30);
    const int luma = int(((p >> 16 & 0xFF) * 299 + (p >> 8 & 0xFF) * 587 + (p & 0xFF) * 114 + 500) / 1000);
    EXPECT_NEAR(int(grey.pixelColor(40, 30) & 0xFF), luma, 1);

    TGIFImage image;
    image.Assign(photo);
    image.Frame(0).Grayscale = true;
    const gifpeer::File decoded = gifpeer::decode(saveGif(image));
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.frames.at(0).colors.at(decoded.frames[0].pixels[30 * 128 + 40]), grey.pixelColor(40, 30));
}
