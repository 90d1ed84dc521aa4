#pragma once

#include "controls/tcolor.h"

#include <QImage>
#include <QWidget>

#include <functional>

namespace framework {
class TTimer;
}

namespace controls {

enum TLEDStyle
{
    LEDSmall,
    LEDLarge,
    LEDSqSmall,
    LEDSqLarge,
    LEDVertical,
    LEDHorizontal
};

// A light-emitting diode indicator: one of twelve small bitmaps whose lime face is recoloured to
// TrueColor (lit) or FalseColor (dark). A lit LED may blink every Interval milliseconds. GUI
// thread only; events and blink ticks run inside the framework's error guard.
class TLed : public QWidget
{
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject *sender)>;

    explicit TLed(QWidget *owner = nullptr);
    ~TLed() override;

    // Every setter does nothing when the value is unchanged.
    TColor TrueColor() const { return m_trueColor; }
    void setTrueColor(TColor color);
    TColor FalseColor() const { return m_falseColor; }
    void setFalseColor(TColor color);
    // Colour of the bitmap's surroundings when not Bordered.
    TColor BorderColor() const { return m_borderColor; }
    void setBorderColor(TColor color);
    bool Blink() const { return m_blink; }
    void setBlink(bool blink);
    bool Bordered() const { return m_bordered; }
    void setBordered(bool bordered);
    bool Value() const { return m_value; }
    void setValue(bool value);
    // Blink half-period in milliseconds. A negative value raises framework::ERangeError when it
    // reaches the blink timer (at once when the LED blinks, else when blinking starts).
    int Interval() const { return m_interval; }
    void setInterval(int milliseconds);
    TLEDStyle LEDStyle() const { return m_style; }
    void setLEDStyle(TLEDStyle style);
    bool ShowHint() const { return m_showHint; }
    void setShowHint(bool show) { m_showHint = show; }

    TNotifyEvent OnTimer;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    TNotifyEvent OnClick;

    // 0 while the lit bitmap is shown, 1 while the dark one is.
    int shownPhase() const { return m_phase; }
    bool isBlinking() const { return m_timer != nullptr; }
    const QImage &litBitmap() const { return m_lit; }
    const QImage &darkBitmap() const { return m_dark; }

    // The control size and bitmap resource of a style.
    static QSize styleSize(TLEDStyle style);
    static QString bitmapName(TLEDStyle style, bool bordered);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildBitmaps();
    void showPhase(int phase);
    void setColor(TColor &field, TColor color);
    void startBlinking();
    void stopBlinking();
    void tick();

    QImage m_lit;
    QImage m_dark;
    framework::TTimer *m_timer = nullptr; // child of this LED while blinking
    TColor m_trueColor = clLime;
    TColor m_falseColor = clSilver;
    TColor m_borderColor = clBtnFace;
    bool m_bordered = true;
    bool m_blink = true;
    TLEDStyle m_style = LEDSmall;
    int m_interval = 1000;
    bool m_value = false;
    int m_phase = 1;
    bool m_showHint = true;
    bool m_inTick = false;
    bool m_pressed = false;
};

} // namespace controls
