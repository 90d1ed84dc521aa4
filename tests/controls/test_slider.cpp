#include "controls/slider.h"
#include "framework/controlfiler.h"
#include "framework/exception.h"
#include "ledlooks.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

using namespace controls;
using controlstest::pixels;
using testsupport::serveEvents;
using testsupport::waitUntil;

namespace {

// The main window's volume slider: 162 x 33, range 2..100, increment 7, value 50, smooth.
std::unique_ptr<TSlider> volumeSlider()
{
    auto slider = std::make_unique<TSlider>();
    slider->loadStored([&] {
        slider->resize(162, 33);
        slider->setMinValue(2);
        slider->setIncrement(7);
        slider->setValue(50);
        slider->setTabStop(false);
    });
    slider->show();
    return slider;
}

struct Counts
{
    int change = 0;
    int changed = 0;
    std::vector<int> values;
};

void count(TCustomSlider &slider, Counts &counts)
{
    slider.OnChange = [&](QObject *sender) {
        EXPECT_EQ(sender, &slider);
        ++counts.change;
        counts.values.push_back(slider.Value());
    };
    slider.OnChanged = [&](QObject *sender) {
        EXPECT_EQ(sender, &slider);
        ++counts.changed;
    };
}

void mouse(QWidget &widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}
void press(QWidget &w, QPoint at)
{
    mouse(w, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}
void dragTo(QWidget &w, QPoint at)
{
    mouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
}
void release(QWidget &w, QPoint at)
{
    mouse(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

} // namespace

TEST(SliderLayout, VolumeSliderFigures)
{
    auto slider = volumeSlider();
    EXPECT_EQ(slider->size(), QSize(162, 33));
    EXPECT_EQ(slider->RulerImage().size(), QSize(150, 8));
    EXPECT_EQ(slider->ThumbRect().size(), QSize(9, 17));
    EXPECT_EQ(slider->ThumbRect().top(), 6);
    EXPECT_EQ(slider->RulerOrigin(), QPoint(6, 10));
    EXPECT_EQ(slider->TickArea().top(), 24);
    EXPECT_EQ(slider->TickArea().left(), 6);
    EXPECT_EQ(slider->TickArea().width(), 150);
    EXPECT_EQ(slider->TravelLength(), 141);
    EXPECT_EQ(slider->ThumbRect().left(), 75);
    slider->setValue(2);
    EXPECT_EQ(slider->ThumbRect().left(), 6);
    slider->setValue(100);
    EXPECT_EQ(slider->ThumbRect().left(), 147);
}

TEST(SliderLayout, DefaultsOfANewSlider)
{
    TSlider slider;
    EXPECT_EQ(slider.size(), QSize(150, 40));
    EXPECT_EQ(slider.MinValue(), 0);
    EXPECT_EQ(slider.MaxValue(), 100);
    EXPECT_EQ(slider.Increment(), 10);
    EXPECT_EQ(slider.Value(), 0);
    EXPECT_EQ(slider.Orientation(), soHorizontal);
    EXPECT_EQ(slider.Options(), soShowFocus | soShowPoints | soSmooth);
    EXPECT_EQ(slider.BevelStyle(), bvNone);
    EXPECT_EQ(slider.EdgeSize(), 2);
    EXPECT_EQ(slider.NumThumbStates(), 2);
    EXPECT_TRUE(slider.TabStop());
    EXPECT_EQ(slider.UserImageSet(), 0);
    EXPECT_EQ(slider.ImageHThumb().size(), QSize(18, 17));
    EXPECT_EQ(slider.ImageHRuler().size(), QSize(10, 8));
    EXPECT_EQ(slider.ImageVThumb().size(), QSize(38, 9));
    EXPECT_EQ(slider.ImageVRuler().size(), QSize(8, 10));
}

TEST(SliderLayout, RulerKeepsItsEndsAndTilesTheMiddle)
{
    auto slider = volumeSlider();
    const QImage ruler = slider->RulerImage();
    const QImage source = slider->ImageHRuler();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 150; ++x) {
            int from;
            if (x < 8)
                from = x; // first piece: source [0, 8)
            else if (x >= 146)
                from = x - 146 + 6; // last piece: source [6, 10)
            else
                from = 2 + (x - 2) % 6; // tiled middle
            ASSERT_EQ(ruler.pixel(x, y), source.pixel(from, y)) << x << "," << y;
        }
    }
}

TEST(SliderLayout, BevelShrinksTheInnerRectangle)
{
    auto slider = volumeSlider();
    slider->setBevelStyle(bvLowered);
    EXPECT_EQ(slider->RulerImage().width(), 148);
    EXPECT_EQ(slider->RulerOrigin(), QPoint(7, 11));
    const QImage look = pixels(*slider);
    EXPECT_EQ(look.pixel(0, 0), toQColor(clBtnShadow, slider->palette()).rgb());
    EXPECT_EQ(look.pixel(161, 32), toQColor(clBtnHighlight, slider->palette()).rgb());
}

TEST(SliderLayout, OrientationSwapsWidthAndHeightAndLaysOutVertically)
{
    auto slider = volumeSlider();
    slider->setOrientation(soVertical);
    EXPECT_EQ(slider->size(), QSize(33, 162));
    EXPECT_EQ(slider->ThumbRect().size(), QSize(19, 9));
    EXPECT_EQ(slider->RulerImage().size(), QSize(8, 150));
    EXPECT_EQ(slider->RulerOrigin(), QPoint(6 + 5, 6));
    EXPECT_EQ(slider->TickArea().left(), 19 + 7);
    EXPECT_EQ(slider->TravelLength(), 141);
    // Vertical sliders grow upwards: the lowest value sits at the bottom.
    slider->setValue(2);
    EXPECT_EQ(slider->ThumbRect().top(), 162 - 6 - 9);
    slider->setValue(100);
    EXPECT_EQ(slider->ThumbRect().top(), 6);
    EXPECT_EQ(slider->PositionToValue(6), 100);
    EXPECT_EQ(slider->PositionToValue(147), 2);
    slider->setOrientation(soHorizontal);
    EXPECT_EQ(slider->size(), QSize(162, 33));
    EXPECT_EQ(slider->ThumbRect().left(), 147);
}

TEST(SliderLayout, LoadingDoesNotSwapTheSize)
{
    TSlider slider;
    slider.loadStored([&] {
        slider.resize(33, 162);
        slider.setOrientation(soVertical);
    });
    EXPECT_EQ(slider.size(), QSize(33, 162));
    EXPECT_EQ(slider.RulerImage().size(), QSize(8, 150));
}

TEST(SliderValue, ConversionRoundsHalvesToEven)
{
    auto slider = volumeSlider();
    slider->setMinValue(0);
    slider->setMaxValue(282); // 2 values per pixel of travel
    // Position 6 + 0.5 pixel would be value 1: Round(0.5) = 0 and Round(1.5) = 2.
    EXPECT_EQ(slider->ValueToPosition(1), 6);
    EXPECT_EQ(slider->ValueToPosition(3), 8);
    slider->resize(163, 33); // travel 142
    slider->setMaxValue(71); // half a value per pixel
    EXPECT_EQ(slider->TravelLength(), 142);
    EXPECT_EQ(slider->PositionToValue(6 + 1), 0);
    EXPECT_EQ(slider->PositionToValue(6 + 3), 2);
}

TEST(SliderValue, ClampingAndOnChangeCounts)
{
    auto slider = volumeSlider();
    Counts counts;
    count(*slider, counts);
    slider->setValue(150);
    EXPECT_EQ(slider->Value(), 100);
    EXPECT_EQ(counts.change, 1);
    slider->setValue(100);
    EXPECT_EQ(counts.change, 1);
    slider->setValue(-5);
    EXPECT_EQ(slider->Value(), 2);
    EXPECT_EQ(counts.change, 2);
    EXPECT_EQ(counts.changed, 0);
}

TEST(SliderValue, ValueIsNotSnappedButTheThumbIsWhenNotSmooth)
{
    auto slider = volumeSlider();
    slider->setOptions(soShowFocus | soShowPoints);
    slider->setValue(50);
    EXPECT_EQ(slider->Value(), 50);
    // 50 lies between the grid values 44 and 51; the thumb sits at 51's place.
    EXPECT_EQ(slider->ThumbRect().left(), slider->ValueToPosition(51));
}

TEST(SliderValue, IncrementOutsideTheRangeRaisesItsText)
{
    auto slider = volumeSlider();
    for (int bad : { 0, -3, 99 }) {
        try {
            slider->setIncrement(bad);
            FAIL() << "no exception for " << bad;
        } catch (const framework::Exception &e) {
            EXPECT_EQ(e.message(), "Value must be between 1 and 98");
        }
        EXPECT_EQ(slider->Increment(), 7);
    }
    slider->setIncrement(98);
    EXPECT_EQ(slider->Increment(), 98);
}

TEST(SliderValue, RangeSetters)
{
    auto slider = volumeSlider();
    Counts counts;
    count(*slider, counts);
    slider->setMinValue(100); // not below MaxValue: refused silently
    slider->setMinValue(200);
    EXPECT_EQ(slider->MinValue(), 2);
    slider->setMaxValue(5); // narrower than Increment: Increment follows, Value is re-clamped
    EXPECT_EQ(slider->MaxValue(), 5);
    EXPECT_EQ(slider->Increment(), 3);
    EXPECT_EQ(slider->Value(), 5);
    EXPECT_EQ(counts.change, 1);
    slider->setMaxValue(100);
    EXPECT_EQ(slider->Value(), 5);
    EXPECT_EQ(slider->ThumbRect().left(), slider->ValueToPosition(5));
}

TEST(SliderValue, OtherSettersAcceptOnlySensibleValues)
{
    auto slider = volumeSlider();
    slider->setEdgeSize(5); // 2 x 5 is not less than the ruler picture's 10 pixels
    EXPECT_EQ(slider->EdgeSize(), 2);
    slider->setEdgeSize(-1);
    EXPECT_EQ(slider->EdgeSize(), 2);
    slider->setEdgeSize(4);
    EXPECT_EQ(slider->EdgeSize(), 4);
    EXPECT_THROW(slider->setNumThumbStates(3), framework::ERangeError);
    slider->setNumThumbStates(1);
    EXPECT_EQ(slider->ThumbRect().size(), QSize(18, 17));
    EXPECT_THROW(slider->setImage(4, QImage()), framework::ERangeError);
}

TEST(SliderKeys, ArrowsHomeAndEnd)
{
    auto slider = volumeSlider();
    Counts counts;
    count(*slider, counts);
    QTest::keyClick(slider.get(), Qt::Key_Right);
    EXPECT_EQ(slider->Value(), 56);
    slider->setValue(50);
    QTest::keyClick(slider.get(), Qt::Key_Left);
    EXPECT_EQ(slider->Value(), 42);
    QTest::keyClick(slider.get(), Qt::Key_Home);
    EXPECT_EQ(slider->Value(), 2);
    QTest::keyClick(slider.get(), Qt::Key_End);
    EXPECT_EQ(slider->Value(), 100);
    slider->setValue(98);
    QTest::keyClick(slider.get(), Qt::Key_Right);
    EXPECT_EQ(slider->Value(), 100);
    counts = {};
    // OnChanged follows every recognised key, even when the value stays.
    QTest::keyClick(slider.get(), Qt::Key_End);
    EXPECT_EQ(counts.change, 0);
    EXPECT_EQ(counts.changed, 1);
    // Other arrows, and any shift state, do nothing.
    QTest::keyClick(slider.get(), Qt::Key_Down);
    QTest::keyClick(slider.get(), Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(slider.get(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(slider->Value(), 100);
    EXPECT_EQ(counts.changed, 1);
}

TEST(SliderKeys, VerticalUsesUpAndDown)
{
    auto slider = volumeSlider();
    slider->setOrientation(soVertical);
    QTest::keyClick(slider.get(), Qt::Key_Up);
    EXPECT_EQ(slider->Value(), 56);
    QTest::keyClick(slider.get(), Qt::Key_Down);
    EXPECT_EQ(slider->Value(), 49);
    QTest::keyClick(slider.get(), Qt::Key_Right);
    EXPECT_EQ(slider->Value(), 49);
}

TEST(SliderKeys, AnExceptionFromAHandlerIsReported)
{
    testsupport::ExceptionRecorder recorder;
    auto slider = volumeSlider();
    slider->OnChange = [](QObject *) { throw std::runtime_error("volume failed"); };
    QTest::keyClick(slider.get(), Qt::Key_Right);
    EXPECT_EQ(recorder.messages(), QStringList { "volume failed" });
}

TEST(SliderTicks, FifteenTicksForTheVolumeSlider)
{
    auto slider = volumeSlider();
    const auto ticks = slider->tickMarks(7, 3, 5);
    ASSERT_EQ(ticks.size(), 15u);
    for (size_t i = 0; i < 14; ++i)
        EXPECT_EQ(ticks[i].value, 2 + 7 * int(i));
    EXPECT_EQ(ticks[13].value, 93);
    EXPECT_EQ(ticks[14].value, 100);
    EXPECT_EQ(ticks.front().position, 10);
    EXPECT_EQ(ticks.back().position, 151);
    for (const auto &tick : ticks)
        EXPECT_EQ(tick.length, (tick.value == 2 || tick.value == 100) ? 5 : 3) << tick.value;

    const QImage look = pixels(*slider);
    const QRgb ink = toQColor(clWindowText, slider->palette()).rgb();
    for (const auto &tick : ticks) {
        for (int y = 24; y < 24 + tick.length; ++y)
            EXPECT_EQ(look.pixel(tick.position, y), ink) << tick.value << " y " << y;
        EXPECT_NE(look.pixel(tick.position, 24 + tick.length), ink) << tick.value;
        EXPECT_NE(look.pixel(tick.position, 23), ink) << tick.value;
    }
    EXPECT_NE(look.pixel(11, 25), ink);
}

TEST(SliderTicks, CrowdedTicksUseAMultipleOfTheStep)
{
    auto slider = volumeSlider();
    // Step 1 would give 99 ticks 1 pixel apart: every 3rd value keeps them 4 pixels apart.
    const auto ticks = slider->tickMarks(1, 3, 5);
    ASSERT_EQ(ticks.size(), 34u);
    EXPECT_EQ(ticks[1].value, 5);
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_GE(ticks[i].position - ticks[i - 1].position, 3);
    // A huge range with a small step still ends quickly and keeps the ticks apart.
    slider->setMinValue(-2000000000);
    slider->setMaxValue(2000000000);
    const auto wide = slider->tickMarks(1, 3, 5);
    ASSERT_GE(wide.size(), 2u);
    EXPECT_LE(wide.size(), 141u / 4 + 2);
    EXPECT_EQ(wide.back().value, 2000000000);
    EXPECT_TRUE(slider->tickMarks(0, 3, 5).empty());
}

TEST(SliderTicks, OnDrawPointsReplacesTheBuiltInTicks)
{
    auto slider = volumeSlider();
    int calls = 0;
    slider->OnDrawPoints = [&](QObject *sender) {
        ++calls;
        ASSERT_NE(slider->Canvas(), nullptr);
        auto *s = static_cast<TCustomSlider *>(sender);
        s->DrawTicks(49, 2, 8);
    };
    const QImage look = pixels(*slider);
    EXPECT_GE(calls, 1);
    const QRgb ink = toQColor(clWindowText, slider->palette()).rgb();
    EXPECT_EQ(look.pixel(10, 31), ink); // end tick 8 long
    EXPECT_NE(look.pixel(20, 24), ink); // no built-in tick at 9
    EXPECT_EQ(slider->Canvas(), nullptr);
}

TEST(SliderPaint, ThumbAndRulerArePainted)
{
    auto slider = volumeSlider();
    const QImage look = pixels(*slider);
    const QImage thumb = slider->ImageHThumb();
    const QRect r = slider->ThumbRect();
    // The opaque thumb pixels of the normal state (left half) appear at the thumb rectangle.
    EXPECT_EQ(look.pixel(r.left() + 1, r.top() + 5), thumb.pixel(1, 5));
    EXPECT_EQ(look.pixel(r.left() + 8, r.top() + 5), thumb.pixel(8, 5));
    // The ruler's groove shows; its transparent rows show the background.
    EXPECT_EQ(look.pixel(30, 10 + 3), slider->RulerImage().pixel(24, 3));
    EXPECT_EQ(look.pixel(30, 10), toQColor(clBtnFace, slider->palette()).rgb());
    // Disabled: the thumb's second state.
    slider->setEnabled(false);
    const QImage disabled = pixels(*slider);
    EXPECT_EQ(disabled.pixel(r.left() + 1, r.top() + 5), thumb.pixel(9 + 1, 5));
}

TEST(SliderMouse, DraggingFiresOnChangePerValueAndOnChangedOnce)
{
    auto slider = volumeSlider();
    Counts counts;
    count(*slider, counts);
    const QPoint grip(75 + 4, 14);
    press(*slider, grip);
    EXPECT_TRUE(slider->isDragging());
    const QImage down = pixels(*slider);
    EXPECT_EQ(down.pixel(76, 11), slider->ImageHThumb().pixel(9 + 1, 5));
    for (int x = 80; x <= 100; x += 5)
        dragTo(*slider, QPoint(x, 14));
    EXPECT_EQ(counts.changed, 0);
    EXPECT_EQ(counts.change, int(counts.values.size()));
    EXPECT_GE(counts.change, 4);
    for (size_t i = 1; i < counts.values.size(); ++i)
        EXPECT_NE(counts.values[i], counts.values[i - 1]);
    release(*slider, QPoint(100, 14));
    EXPECT_FALSE(slider->isDragging());
    EXPECT_EQ(counts.changed, 1);
    // The thumb follows the pointer and settles on the place of the value it stands for.
    EXPECT_EQ(slider->Value(), slider->PositionToValue(96));
    EXPECT_EQ(slider->ThumbRect().left(), slider->ValueToPosition(slider->Value()));
}

TEST(SliderMouse, DragWithoutSmoothLandsOnTheGrid)
{
    auto slider = volumeSlider();
    slider->setOptions(soShowFocus | soShowPoints);
    Counts counts;
    count(*slider, counts);
    const QPoint grip = slider->ThumbRect().center();
    press(*slider, grip);
    for (int x = 0; x <= 170; ++x)
        dragTo(*slider, QPoint(x, 14));
    release(*slider, QPoint(170, 14));
    ASSERT_FALSE(counts.values.empty());
    for (int v : counts.values)
        EXPECT_TRUE((v - 2) % 7 == 0 || v == 100) << v;
    EXPECT_EQ(counts.values.front(), 2);
    EXPECT_EQ(counts.values.back(), 100);
    EXPECT_EQ(counts.changed, 1);
}

TEST(SliderMouse, RulerPressStepsAndRepeatsUntilTheThumbReachesThePointer)
{
    auto slider = volumeSlider();
    Counts counts;
    count(*slider, counts);
    press(*slider, QPoint(100, 14));
    EXPECT_EQ(slider->Value(), 56);
    EXPECT_TRUE(slider->isRulerPressing());
    EXPECT_TRUE(slider->isRepeatTimerOn());
    ASSERT_TRUE(waitUntil([&] { return slider->Value() == 63; }, 3000));
    // The thumb now covers x 100: no further steps while the press lasts.
    serveEvents(900);
    EXPECT_EQ(slider->Value(), 63);
    EXPECT_EQ(counts.changed, 0);
    release(*slider, QPoint(100, 14));
    EXPECT_FALSE(slider->isRulerPressing());
    EXPECT_FALSE(slider->isRepeatTimerOn());
    EXPECT_EQ(counts.changed, 1);
    EXPECT_EQ(counts.change, 2);
    // Below the ruler's widened band nothing happens.
    press(*slider, QPoint(30, 22));
    release(*slider, QPoint(30, 22));
    EXPECT_EQ(slider->Value(), 63);
    // Left of the thumb steps down.
    press(*slider, QPoint(30, 7));
    EXPECT_EQ(slider->Value(), 56);
    release(*slider, QPoint(30, 7));
}

TEST(SliderMouse, TheSecondPressOfADoubleClickIsIgnored)
{
    auto slider = volumeSlider();
    Counts counts;
    count(*slider, counts);
    for (const QPoint at : { QPoint(100, 14), slider->ThumbRect().center() }) {
        press(*slider, at);
        release(*slider, at);
        const int value = slider->Value();
        const int changed = counts.changed;
        // Qt hands over the second press of a double click as a double-click event.
        mouse(*slider, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        EXPECT_FALSE(slider->isDragging());
        EXPECT_FALSE(slider->isRulerPressing());
        release(*slider, at);
        EXPECT_EQ(slider->Value(), value) << at.x();
        EXPECT_EQ(counts.changed, changed) << at.x();
    }
}

TEST(SliderMouse, HandCursorOverTheThumb)
{
    auto slider = volumeSlider();
    mouse(*slider, QEvent::MouseMove, slider->ThumbRect().center(), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(slider->cursor().shape(), Qt::PointingHandCursor);
    mouse(*slider, QEvent::MouseMove, QPoint(30, 14), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(slider->cursor().shape(), Qt::ArrowCursor);
}

TEST(SliderSmall, NoTravelKeepsTheThumbAtTheStart)
{
    TSlider slider;
    slider.resize(15, 33);
    slider.show();
    EXPECT_LE(slider.TravelLength(), 0);
    slider.setValue(60);
    EXPECT_EQ(slider.Value(), 60);
    EXPECT_EQ(slider.ThumbRect().left(), 6);
    press(slider, slider.ThumbRect().center());
    dragTo(slider, QPoint(40, 14));
    release(slider, QPoint(40, 14));
    EXPECT_EQ(slider.Value(), 60);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(slider.Value(), 70);
    EXPECT_FALSE(pixels(slider).isNull());
    slider.resize(3, 3);
    EXPECT_TRUE(slider.RulerImage().isNull());
    EXPECT_FALSE(pixels(slider).isNull());
}

TEST(SliderStore, UserPicturesTravelThroughTheStoredSettings)
{
    TSlider original;
    EXPECT_TRUE(
        framework::writeControlProperties([&](framework::TFiler &f) { original.DefineProperties(f); }).isEmpty());
    QImage thumb(24, 20, QImage::Format_RGB32);
    thumb.fill(Qt::red);
    original.setImageHThumb(thumb);
    EXPECT_EQ(original.UserImageSet(), 1);
    EXPECT_EQ(original.ThumbRect().size(), QSize(12, 20));
    const auto stored = framework::writeControlProperties([&](framework::TFiler &f) { original.DefineProperties(f); });
    EXPECT_EQ(stored.value("UserImages"), QByteArray(1, '\x01'));
    EXPECT_TRUE(stored.contains("ImageHThumb"));
    EXPECT_FALSE(stored.contains("ImageHRuler"));

    TSlider copy;
    copy.loadStored(
        [&] { framework::readControlProperties([&](framework::TFiler &f) { copy.DefineProperties(f); }, stored); });
    EXPECT_EQ(copy.UserImageSet(), 1);
    EXPECT_EQ(copy.ImageHThumb().pixel(3, 3), qRgb(255, 0, 0));
    EXPECT_EQ(copy.ThumbRect().size(), QSize(12, 20));

    copy.setImageHThumb(QImage());
    EXPECT_EQ(copy.UserImageSet(), 0);
    EXPECT_EQ(copy.ThumbRect().size(), QSize(9, 17));
}

TEST(SliderStore, DamagedStoredPicturesAreSkipped)
{
    framework::StoredProperties stored;
    stored.insert("UserImages", QByteArray("\xFF", 1));
    stored.insert("ImageVRuler", QByteArray("not a picture"));
    TSlider slider;
    slider.loadStored(
        [&] { framework::readControlProperties([&](framework::TFiler &f) { slider.DefineProperties(f); }, stored); });
    EXPECT_EQ(slider.UserImageSet(), 0x0F);
    EXPECT_EQ(slider.ImageVRuler().size(), QSize(8, 10));
    EXPECT_EQ(slider.RulerImage().size(), QSize(138, 8));
    stored["UserImages"] = QByteArray();
    TSlider other;
    framework::readControlProperties([&](framework::TFiler &f) { other.DefineProperties(f); }, stored);
    EXPECT_EQ(other.UserImageSet(), 0);
}

TEST(SliderPaint, FocusRectangleOnlyWithShowFocusWhileFocused)
{
    auto slider = volumeSlider();
    const QRgb ink = toQColor(clWindowText, slider->palette()).rgb();
    EXPECT_NE(pixels(*slider).pixel(2, 2), ink);
    QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
    QApplication::sendEvent(slider.get(), &in);
    EXPECT_EQ(pixels(*slider).pixel(2, 2), ink);
    slider->setOptions(soShowPoints | soSmooth);
    EXPECT_NE(pixels(*slider).pixel(2, 2), ink);
    slider->setOptions(soShowFocus | soSmooth);
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(slider.get(), &out);
    EXPECT_NE(pixels(*slider).pixel(2, 2), ink);
    // Without soShowPoints no tick is drawn.
    EXPECT_NE(pixels(*slider).pixel(10, 25), ink);
}

TEST(SliderMouse, VerticalDragUpwardsRaisesTheValue)
{
    auto slider = volumeSlider();
    slider->setOrientation(soVertical);
    Counts counts;
    count(*slider, counts);
    const QPoint grip = slider->ThumbRect().center();
    press(*slider, grip);
    dragTo(*slider, grip - QPoint(0, 30));
    dragTo(*slider, QPoint(grip.x(), -50));
    release(*slider, QPoint(grip.x(), -50));
    EXPECT_EQ(slider->Value(), 100);
    EXPECT_EQ(slider->ThumbRect().top(), 6);
    EXPECT_EQ(counts.change, 2);
    EXPECT_EQ(counts.changed, 1);
    EXPECT_GT(counts.values.front(), 50);
}
