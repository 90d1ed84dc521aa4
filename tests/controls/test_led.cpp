#include "controls/bitmaps.h"
#include "controls/led.h"
#include "framework/exception.h"
#include "ledlooks.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QApplication>
#include <QEnterEvent>
#include <QPalette>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace controls;
using controlstest::pixels;
using testsupport::serveEvents;
using testsupport::waitUntil;

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kSilver = qRgb(192, 192, 192);
const QRgb kGrey = qRgb(128, 128, 128);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kLime = qRgb(0, 255, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kMaroon = qRgb(128, 0, 0);

const TLEDStyle kStyles[] = { LEDSmall, LEDLarge, LEDSqSmall, LEDSqLarge, LEDVertical, LEDHorizontal };

// The small circular bordered bitmap, as the design fixes it.
const char *const kBsm[] = {
    "WWWWWWWWWWWWWWWW",
    "WSSSSKKKKKKSSSSG",
    "WSSSKWWWWWSKSSSG",
    "WSSKWWKKKKSSKSSG",
    "WSKWWKLLLLKSSKSG",
    "WKWWKWLWLLLKSGKG",
    "WKWKLLWLLLLLKGKG",
    "WKWKLWLLLLLLKGKG",
    "WKWKLLLLLLLLKGKG",
    "WKWKLLLLLLLLKGKG",
    "WKSSKLLLLLLKGGKG",
    "WSKSSKLLLLKGGKSG",
    "WSSKSSKKKKGGKSSG",
    "WSSSKGGGGGGKSSSG",
    "WSSSSKKKKKKSSSSG",
    "GGGGGGGGGGGGGGGG",
};

QRgb letterColour(char letter, QRgb lime)
{
    switch (letter) {
    case 'W':
        return kWhite;
    case 'S':
        return kSilver;
    case 'G':
        return kGrey;
    case 'K':
        return kBlack;
    default:
        return lime;
    }
}

int countConnected(const QImage &image, QPoint start, QRgb colour)
{
    QImage copy = image;
    floodFill(copy, start, colour, qRgb(1, 2, 3));
    int filled = 0;
    for (int y = 0; y < copy.height(); ++y)
        for (int x = 0; x < copy.width(); ++x)
            filled += copy.pixel(x, y) == qRgb(1, 2, 3);
    return filled;
}

int countColour(const QImage &image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

QPoint centre(const QWidget &w)
{
    return { w.width() / 2, w.height() / 2 };
}

} // namespace

TEST(LedLook, NewLedIsTheSmallBorderedCircleDarkInSilver)
{
    TLed led;
    EXPECT_EQ(led.size(), QSize(16, 16));
    EXPECT_FALSE(led.Value());
    EXPECT_EQ(led.LEDStyle(), LEDSmall);
    EXPECT_TRUE(led.Bordered());
    EXPECT_TRUE(led.Blink());
    EXPECT_TRUE(led.ShowHint());
    EXPECT_EQ(led.Interval(), 1000);
    EXPECT_EQ(led.TrueColor(), clLime);
    EXPECT_EQ(led.FalseColor(), clSilver);
    EXPECT_EQ(led.BorderColor(), clBtnFace);
    EXPECT_EQ(led.shownPhase(), 1);
    EXPECT_FALSE(led.isBlinking());

    const QImage dark = pixels(led);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(dark.pixel(x, y), letterColour(kBsm[y][x], kSilver)) << x << "," << y;
    led.setBlink(false);
    led.setValue(true);
    const QImage lit = pixels(led);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(lit.pixel(x, y), letterColour(kBsm[y][x], kLime)) << x << "," << y;
}

TEST(LedLook, EveryBitmapKeepsTheRulesTheRecolouringReliesOn)
{
    const QSet<QRgb> allowed { kWhite, kSilver, kGrey, kBlack, kLime };
    for (TLEDStyle style : kStyles) {
        const QImage b = loadControlBitmap(TLed::bitmapName(style, true));
        const QImage n = loadControlBitmap(TLed::bitmapName(style, false));
        ASSERT_FALSE(b.isNull()) << style;
        ASSERT_FALSE(n.isNull()) << style;
        const QSize size = TLed::styleSize(style);
        EXPECT_EQ(b.size(), size);
        EXPECT_EQ(n.size(), size);
        const int w = size.width(), h = size.height();
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                ASSERT_TRUE(allowed.contains(b.pixel(x, y))) << style << " " << x << "," << y;
                const bool frame = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                if (!frame) {
                    ASSERT_EQ(n.pixel(x, y), b.pixel(x, y)) << "N twin differs inside, style " << style;
                    continue;
                }
                ASSERT_EQ(n.pixel(x, y), kSilver) << "N frame, style " << style;
                const bool white = y == 0 || (x == 0 && y != h - 1);
                ASSERT_EQ(b.pixel(x, y), white ? kWhite : kGrey) << "B frame, style " << style << " " << x << "," << y;
            }
        }
        const QPoint c(w / 2, h / 2);
        EXPECT_EQ(b.pixel(c), kLime) << style;
        EXPECT_EQ(countConnected(b, c, kLime), countColour(b, kLime)) << "lime face split, style " << style;
        // A highlight on the face, so the lit look is more than a flat disc.
        EXPECT_GT(countColour(b, kWhite), w + h - 1);
    }
}

TEST(LedLook, EveryStyleHasItsSize)
{
    const QSize expected[] = { { 16, 16 }, { 22, 22 }, { 16, 16 }, { 22, 22 }, { 16, 22 }, { 22, 16 } };
    TLed led;
    for (TLEDStyle style : kStyles) {
        led.setLEDStyle(style);
        EXPECT_EQ(led.size(), expected[style]) << style;
        EXPECT_EQ(pixels(led).size(), expected[style]);
    }
    led.setLEDStyle(LEDVertical);
    EXPECT_EQ(led.width(), 16);
    EXPECT_EQ(led.height(), 22);
}

TEST(LedLook, LitAndDarkFacesTakeTheSetColoursInEveryStyleAndFrame)
{
    for (bool bordered : { true, false }) {
        for (TLEDStyle style : kStyles) {
            TLed led;
            led.setLEDStyle(style);
            led.setBordered(bordered);
            led.setTrueColor(clRed);
            led.setFalseColor(clMaroon);
            led.setBlink(false);
            EXPECT_EQ(pixels(led).pixel(centre(led)), kMaroon) << style;
            led.setValue(true);
            const QImage lit = pixels(led);
            EXPECT_EQ(lit.pixel(centre(led)), kRed) << style;
            // The whole face changes, not just the centre: no lime is left.
            EXPECT_EQ(countColour(lit, kLime), 0) << style;
            EXPECT_EQ(countColour(lit, kRed), countColour(loadControlBitmap(TLed::bitmapName(style, bordered)), kLime));
        }
    }
}

TEST(LedLook, UnborderedSurroundingsTakeTheBorderColourInBothLooks)
{
    for (TLEDStyle style : kStyles) {
        TLed led;
        led.setLEDStyle(style);
        led.setBlink(false);
        led.setBorderColor(clRed);
        // Bordered: the border colour shows nowhere.
        EXPECT_EQ(countColour(pixels(led), kRed), 0);
        EXPECT_EQ(pixels(led).pixel(0, 0), kWhite);
        led.setBordered(false);
        for (bool value : { false, true }) {
            led.setValue(value);
            const QImage look = pixels(led);
            const int w = led.width(), h = led.height();
            EXPECT_EQ(look.pixel(0, 0), kRed) << style;
            EXPECT_EQ(look.pixel(w - 1, 0), kRed) << style;
            EXPECT_EQ(look.pixel(0, h - 1), kRed) << style;
            EXPECT_EQ(look.pixel(w - 1, h - 1), kRed) << style;
            EXPECT_EQ(look.pixel(1, 1), kRed) << style;
        }
    }
}

TEST(LedLook, BorderFillDoesNotCrossCornerOnlyContacts)
{
    // In the small circle, the silver bevel pixels at (2,10) and (3,10) meet the outer silver only
    // diagonally (at (1,11)): with edge-only connectivity they stay silver.
    TLed led;
    led.setBordered(false);
    led.setBorderColor(clRed);
    const QImage look = pixels(led);
    EXPECT_EQ(look.pixel(1, 11), kRed);
    EXPECT_EQ(look.pixel(2, 10), kSilver);
    EXPECT_EQ(look.pixel(3, 10), kSilver);
}

TEST(LedLook, ChangingFalseColourWhileDarkRepaintsTheFace)
{
    TLed led;
    led.setFalseColor(clGreen);
    EXPECT_EQ(pixels(led).pixel(8, 8), qRgb(0, 128, 0));
    EXPECT_FALSE(led.isBlinking());
}

TEST(LedLook, BtnFaceFollowsThePalette)
{
    TLed led;
    QPalette palette = led.palette();
    palette.setColor(QPalette::Button, QColor(10, 20, 30));
    led.setPalette(palette);
    led.setBordered(false);
    EXPECT_EQ(pixels(led).pixel(0, 0), qRgb(10, 20, 30));
}

TEST(LedBlink, LitAtOnceThenDarkAfterOneIntervalAndOnTimerAtEverySwitch)
{
    TLed led;
    led.setInterval(150);
    std::vector<int> phases;
    led.OnTimer = [&](QObject *sender) {
        EXPECT_EQ(sender, &led);
        phases.push_back(led.shownPhase());
    };
    led.setValue(true);
    EXPECT_TRUE(led.isBlinking());
    EXPECT_EQ(led.shownPhase(), 0);
    EXPECT_EQ(pixels(led).pixel(8, 8), kLime);
    serveEvents(40);
    EXPECT_TRUE(phases.empty()) << "switched before one interval";
    ASSERT_TRUE(waitUntil([&] { return phases.size() >= 1; }));
    EXPECT_EQ(pixels(led).pixel(8, 8), kSilver);
    ASSERT_TRUE(waitUntil([&] { return phases.size() >= 3; }));
    EXPECT_EQ(phases[0], 1);
    EXPECT_EQ(phases[1], 0);
    EXPECT_EQ(phases[2], 1);
}

TEST(LedBlink, BlinkOffShowsTheLitLookSteadily)
{
    TLed led;
    led.setInterval(10);
    led.setBlink(false);
    int ticks = 0;
    led.OnTimer = [&](QObject *) { ++ticks; };
    led.setValue(true);
    serveEvents(60);
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(led.isBlinking());
    EXPECT_EQ(pixels(led).pixel(8, 8), kLime);
}

TEST(LedBlink, StoppingInTheRightLook)
{
    TLed led;
    led.setInterval(10);
    int ticks = 0;
    led.OnTimer = [&](QObject *) { ++ticks; };
    led.setValue(true);
    // Catch it in the dark phase, then switch blinking off: it stops lit.
    ASSERT_TRUE(waitUntil([&] { return led.shownPhase() == 1; }));
    led.setBlink(false);
    EXPECT_FALSE(led.isBlinking());
    EXPECT_EQ(pixels(led).pixel(8, 8), kLime);
    int seen = ticks;
    serveEvents(50);
    EXPECT_EQ(ticks, seen);

    led.setBlink(true);
    EXPECT_TRUE(led.isBlinking());
    ASSERT_TRUE(waitUntil([&] { return led.shownPhase() == 0 && ticks > seen + 1; }));
    led.setValue(false);
    EXPECT_FALSE(led.isBlinking());
    EXPECT_EQ(pixels(led).pixel(8, 8), kSilver);
    seen = ticks;
    serveEvents(50);
    EXPECT_EQ(ticks, seen);
}

TEST(LedBlink, ColourChangeWhileBlinkingRestartsWithTheLitPhase)
{
    TLed led;
    led.setInterval(200);
    int ticks = 0;
    led.OnTimer = [&](QObject *) { ++ticks; };
    led.setValue(true);
    ASSERT_TRUE(waitUntil([&] { return led.shownPhase() == 1; }));
    led.setTrueColor(clYellow);
    EXPECT_TRUE(led.isBlinking());
    EXPECT_EQ(led.shownPhase(), 0);
    EXPECT_EQ(pixels(led).pixel(8, 8), qRgb(255, 255, 0));
    // The cycle starts anew: a full interval of lit look before the next switch.
    const int seen = ticks;
    serveEvents(60);
    EXPECT_EQ(ticks, seen);
    ASSERT_TRUE(waitUntil([&] { return led.shownPhase() == 1; }));
}

TEST(LedBlink, StyleChangeKeepsTheTimerRunningAndIntervalReachesIt)
{
    TLed led;
    led.setInterval(5000);
    int ticks = 0;
    led.OnTimer = [&](QObject *) { ++ticks; };
    led.setValue(true);
    led.setLEDStyle(LEDLarge);
    led.setBordered(false);
    EXPECT_TRUE(led.isBlinking());
    led.setInterval(10);
    ASSERT_TRUE(waitUntil([&] { return ticks >= 2; }, 2000));
}

TEST(LedBlink, NegativeIntervalIsARangeErrorWhenItReachesTheTimer)
{
    TLed led;
    led.setInterval(-1);
    EXPECT_THROW(led.setValue(true), framework::ERangeError);
    EXPECT_FALSE(led.isBlinking());
    EXPECT_EQ(led.shownPhase(), 0);

    TLed blinking;
    blinking.setValue(true);
    EXPECT_THROW(blinking.setInterval(-5), framework::ERangeError);
}

TEST(LedBlink, HandlerMayStopTheBlinkingFromItsOwnTick)
{
    TLed led;
    led.setInterval(10);
    int ticks = 0;
    led.OnTimer = [&](QObject *) {
        ++ticks;
        led.setValue(false);
    };
    led.setValue(true);
    ASSERT_TRUE(waitUntil([&] { return ticks == 1; }));
    EXPECT_FALSE(led.isBlinking());
    serveEvents(50);
    EXPECT_EQ(ticks, 1);
}

TEST(LedBlink, AnExceptionFromOnTimerIsReportedAndBlinkingGoesOn)
{
    testsupport::ExceptionRecorder recorder;
    TLed led;
    led.setInterval(10);
    int ticks = 0;
    led.OnTimer = [&](QObject *) {
        ++ticks;
        throw framework::Exception("tick failed");
    };
    led.setValue(true);
    ASSERT_TRUE(waitUntil([&] { return ticks >= 2; }));
    EXPECT_EQ(recorder.messages().first(), "tick failed");
}

TEST(LedMouse, EnterAndLeaveFireWithTheLedAsSender)
{
    testsupport::ExceptionRecorder recorder;
    TLed led;
    QStringList log;
    led.OnMouseEnter = [&](QObject *sender) {
        EXPECT_EQ(sender, &led);
        log << "enter";
    };
    led.OnMouseLeave = [&](QObject *sender) {
        EXPECT_EQ(sender, &led);
        log << "leave";
        throw std::runtime_error("leave failed");
    };
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QApplication::sendEvent(&led, &enter);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&led, &leave);
    EXPECT_EQ(log, (QStringList { "enter", "leave" }));
    EXPECT_EQ(recorder.messages(), QStringList { "leave failed" });
}

TEST(LedMouse, ClickFiresOnClick)
{
    TLed led;
    int clicks = 0;
    led.OnClick = [&](QObject *sender) {
        EXPECT_EQ(sender, &led);
        ++clicks;
    };
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseClick(&led, Qt::RightButton, {}, QPoint(8, 8));
    EXPECT_EQ(clicks, 1);
}
