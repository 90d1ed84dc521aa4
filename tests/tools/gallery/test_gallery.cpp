#include <QFile>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

int countColour(const QImage &image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

} // namespace

TEST(Gallery, ScreenshotShowsEveryLook)
{
    const QString shot = QStringLiteral(TOBREL_GALLERY_SHOT);
    QFile::remove(shot);
    QProcess gallery;
    gallery.start(QStringLiteral(TOBREL_GALLERY), { QStringLiteral("--screenshot"), shot });
    ASSERT_TRUE(gallery.waitForFinished(60000));
    EXPECT_EQ(gallery.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gallery.exitCode(), 0) << gallery.readAllStandardError().constData();

    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 500);
    EXPECT_GE(image.height(), 300);
    // Lit LEDs in lime, red and yellow; dark ones in silver, green and maroon; the navy border
    // of the recoloured rows; the blue links.
    const QRgb expected[] = { qRgb(0, 255, 0), qRgb(255, 0, 0), qRgb(255, 255, 0), qRgb(192, 192, 192), qRgb(0, 128, 0),
        qRgb(128, 0, 0), qRgb(0, 0, 128), qRgb(0, 0, 255) };
    for (QRgb colour : expected)
        EXPECT_GT(countColour(image, colour), 20) << std::hex << colour;
    // Twelve lime faces of bordered or unbordered LEDs (the smallest face has 36 pixels).
    EXPECT_GE(countColour(image, qRgb(0, 255, 0)), 18 * 36);
}

TEST(Gallery, UnsavableFileIsAnError)
{
    QProcess gallery;
    gallery.start(QStringLiteral(TOBREL_GALLERY),
        { QStringLiteral("--screenshot"), QStringLiteral("/nonexistent-folder/gallery.png") });
    ASSERT_TRUE(gallery.waitForFinished(60000));
    EXPECT_EQ(gallery.exitCode(), 1);
    EXPECT_TRUE(gallery.readAllStandardError().contains("cannot save"));
}
