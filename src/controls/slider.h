#pragma once

#include "controls/tcolor.h"

#include <QFlags>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QPainter;

namespace framework {
class NoticeSink;
class TFiler;
} // namespace framework

namespace controls {

enum TSliderOrientation
{
    soHorizontal,
    soVertical
};
enum TSliderOption
{
    soShowFocus = 0x1,
    soShowPoints = 0x2,
    soSmooth = 0x4
};
Q_DECLARE_FLAGS(TSliderOptions, TSliderOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TSliderOptions)
enum TBevelCut
{
    bvNone,
    bvLowered,
    bvRaised,
    bvSpace
};

// A slider drawn from four small pictures (horizontal thumb and ruler, vertical thumb and ruler)
// stretched to the control's size, with optional tick marks. The user picks an integer between
// MinValue and MaxValue by dragging the thumb, pressing on the ruler (repeating every 400 ms) or
// with the keys. Coordinates are pixels of the control. GUI thread only; every entry from Qt
// (paint, input, timer) runs inside the framework's error guard.
//
// A slider without room to travel (TravelLength 0 or less: narrower than 12 pixels plus the thumb,
// or the vertical equivalent) keeps its thumb at the start of the ruler; positions then convert
// to the current value, so dragging changes nothing while keys and Value still work.
class TCustomSlider : public QWidget
{
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject *sender)>;
    enum ImageIndex
    {
        ImageHThumbIndex,
        ImageHRulerIndex,
        ImageVThumbIndex,
        ImageVRulerIndex
    };

    explicit TCustomSlider(QWidget *owner = nullptr);
    ~TCustomSlider() override;

    int MinValue() const { return m_minValue; }
    void setMinValue(int value);
    int MaxValue() const { return m_maxValue; }
    void setMaxValue(int value);
    // Raises framework::Exception "Value must be between 1 and <range>" outside 1..range.
    int Increment() const { return m_increment; }
    void setIncrement(int value);
    int Value() const { return GetSliderValue(); }
    void setValue(int value);
    TSliderOrientation Orientation() const { return m_orientation; }
    void setOrientation(TSliderOrientation orientation);
    TSliderOptions Options() const { return m_options; }
    void setOptions(TSliderOptions options);
    TBevelCut BevelStyle() const { return m_bevelStyle; }
    void setBevelStyle(TBevelCut style);
    int EdgeSize() const { return m_edgeSize; }
    void setEdgeSize(int value);
    // 1 or 2; anything else raises framework::ERangeError.
    int NumThumbStates() const { return m_numThumbStates; }
    void setNumThumbStates(int states);
    TColor Color() const { return m_color; }
    void setColor(TColor color);
    bool TabStop() const { return m_tabStop; }
    void setTabStop(bool tabStop);

    // The four pictures. Setting a null image restores the built-in picture.
    const QImage &Image(int index) const;
    void setImage(int index, const QImage &image);
    const QImage &ImageHThumb() const { return Image(ImageHThumbIndex); }
    void setImageHThumb(const QImage &image) { setImage(ImageHThumbIndex, image); }
    const QImage &ImageHRuler() const { return Image(ImageHRulerIndex); }
    void setImageHRuler(const QImage &image) { setImage(ImageHRulerIndex, image); }
    const QImage &ImageVThumb() const { return Image(ImageVThumbIndex); }
    void setImageVThumb(const QImage &image) { setImage(ImageVThumbIndex, image); }
    const QImage &ImageVRuler() const { return Image(ImageVRulerIndex); }
    void setImageVRuler(const QImage &image) { setImage(ImageVRulerIndex, image); }
    // Bit i set: picture i was supplied by the user.
    uint8_t UserImageSet() const { return m_userImageSet; }

    TNotifyEvent OnChange;
    TNotifyEvent OnChanged;
    // Replaces the built-in tick drawing; draws through Canvas() and DrawTicks.
    TNotifyEvent OnDrawPoints;

    // The painter while the control paints (for OnDrawPoints), else null.
    QPainter *Canvas() const { return m_canvas; }
    // Draws ticks every Step values (or a multiple of it, so they stay at least 4 pixels apart),
    // TickLength long, the ones at MinValue and MaxValue EndTickLength long. Only while painting.
    virtual void DrawTicks(int step, int tickLength, int endTickLength);

    struct Tick
    {
        int value;
        int position; // x (horizontal) or y (vertical) of the tick line
        int length;
    };
    // The ticks DrawTicks would draw.
    std::vector<Tick> tickMarks(int step, int tickLength, int endTickLength) const;

    // Stored settings: apply stored values between beginLoading and endLoading (loadStored does
    // all three); endLoading runs Loaded().
    bool isLoading() const { return m_loading; }
    void beginLoading() { m_loading = true; }
    void endLoading() { Loaded(); }
    void loadStored(const std::function<void()> &applyStoredValues);
    // Raw stored properties: "UserImages" (one byte) and the user-supplied pictures.
    virtual void DefineProperties(framework::TFiler &filer);

    // Layout, for callers that place things beside the slider (and for tests).
    QRect ThumbRect() const { return m_thumbRect; }
    QPoint RulerOrigin() const { return m_rulerOrigin; }
    QRect TickArea() const { return m_tickArea; }
    const QImage &RulerImage() const { return m_rulerImage; }
    int TravelLength() const;
    int ValueToPosition(int value) const;
    int PositionToValue(int position) const;
    bool isDragging() const { return m_dragging; }
    bool isRulerPressing() const { return m_rulerPressing; }
    bool isRepeatTimerOn() const { return m_repeatTimerOn; }

protected:
    virtual bool CanModify() const { return true; }
    virtual QRect GetInnerRect() const;
    virtual int GetSliderValue() const { return m_value; }
    virtual void AdjustLayout();
    virtual void RangeChanged() { }
    virtual void ThumbMouseDown(int x, int y);
    virtual void ThumbMouseMove(int x, int y);
    virtual void ThumbMouseUp();
    virtual void Change();
    virtual void Changed();
    virtual void Loaded();

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    enum class Step
    {
        None,
        Min,
        Max,
        Up,
        Down
    };

    void setRange(int minValue, int maxValue);
    int64_t range() const { return int64_t(m_maxValue) - m_minValue; }
    bool horizontal() const { return m_orientation == soHorizontal; }
    const QImage &thumbImage() const;
    QSize thumbSize() const;
    int thumbLength() const;
    int start() const;
    void buildRuler(const QRect &r);
    int snapPosition(int p) const;
    void moveThumb(int p);
    void stepValue(Step step);
    Step pressDirection(QPoint point) const;
    void rulerStep();
    void stopRulerPress();
    QRect rulerHitRect() const;
    void updateCursor(QPoint point);
    void drawThumb(QPainter &painter, QPoint at, bool secondState);

    QImage m_images[4];
    uint8_t m_userImageSet = 0;
    QImage m_rulerImage;
    QPoint m_rulerOrigin;
    QRect m_thumbRect;
    QRect m_tickArea;
    int m_minValue = 0;
    int m_maxValue = 100;
    int m_increment = 10;
    int m_value = 0;
    TSliderOrientation m_orientation = soHorizontal;
    TSliderOptions m_options = soShowFocus | soShowPoints | soSmooth;
    TBevelCut m_bevelStyle = bvNone;
    int m_edgeSize = 2;
    int m_numThumbStates = 2;
    int m_bevelWidth = 1;
    TColor m_color = clBtnFace;
    bool m_tabStop = true;
    bool m_constructing = true;
    bool m_loading = false;
    bool m_thumbDown = false;
    bool m_dragging = false;
    int m_dragOffset = 0;
    bool m_focused = false;
    bool m_rulerPressing = false;
    bool m_repeatTimerOn = false;
    QPoint m_pressPoint;
    Step m_pressDirection = Step::None;
    QPainter *m_canvas = nullptr;
    std::unique_ptr<framework::NoticeSink> m_window; // the repeat timer of ruler presses
};

// The slider as placed on forms; all behaviour is in TCustomSlider.
class TSlider : public TCustomSlider
{
    Q_OBJECT

public:
    using TCustomSlider::TCustomSlider;
};

} // namespace controls
