#include "controls/led.h"

#include "controls/bitmaps.h"
#include "framework/application.h"
#include "framework/exception.h"
#include "framework/timer.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace controls {

namespace {
constexpr QRgb kLime = 0xFF00FF00;
constexpr QRgb kSilver = 0xFFC0C0C0;
} // namespace

TLed::TLed(QWidget *owner)
    : QWidget(owner)
{
    resize(16, 16);
    buildBitmaps();
}

TLed::~TLed()
{
    // No event may reach a half-destroyed LED.
    OnTimer = nullptr;
    OnMouseEnter = nullptr;
    OnMouseLeave = nullptr;
    OnClick = nullptr;
    stopBlinking();
}

QSize TLed::styleSize(TLEDStyle style)
{
    switch (style) {
    case LEDSmall:
    case LEDSqSmall:
        return { 16, 16 };
    case LEDLarge:
    case LEDSqLarge:
        return { 22, 22 };
    case LEDVertical:
        return { 16, 22 };
    case LEDHorizontal:
        return { 22, 16 };
    }
    return { 16, 16 };
}

QString TLed::bitmapName(TLEDStyle style, bool bordered)
{
    static const char *const names[] = { "sm", "lg", "sqsm", "sqlg", "vt", "hz" };
    const int index = (style >= LEDSmall && style <= LEDHorizontal) ? int(style) : 0;
    return QStringLiteral("led/%1%2.xpm").arg(bordered ? QLatin1Char('b') : QLatin1Char('n')).arg(names[index]);
}

void TLed::buildBitmaps()
{
    const QSize size = styleSize(m_style);
    resize(size);
    const QImage source = loadControlBitmap(bitmapName(m_style, m_bordered));
    m_lit = source;
    m_dark = source;
    if (source.isNull())
        return;
    const QPoint centre(size.width() / 2, size.height() / 2);
    floodFill(m_lit, centre, kLime, toQColor(m_trueColor, palette()).rgb());
    floodFill(m_dark, centre, kLime, toQColor(m_falseColor, palette()).rgb());
    if (!m_bordered) {
        const QRgb border = toQColor(m_borderColor, palette()).rgb();
        floodFill(m_lit, QPoint(0, 0), kSilver, border);
        floodFill(m_dark, QPoint(0, 0), kSilver, border);
    }
}

void TLed::showPhase(int phase)
{
    m_phase = phase;
    update();
}

void TLed::paintEvent(QPaintEvent *)
{
    framework::guard(this, [&] {
        const QImage &image = m_phase == 0 ? m_lit : m_dark;
        if (image.isNull())
            return;
        QPainter painter(this);
        painter.drawImage(QRect(0, 0, width(), height()), image);
    });
}

void TLed::setValue(bool value)
{
    if (value == m_value)
        return;
    m_value = value;
    if (value) {
        showPhase(0);
        if (m_blink)
            startBlinking();
    } else {
        stopBlinking();
        showPhase(1);
    }
}

void TLed::setBlink(bool blink)
{
    if (blink == m_blink)
        return;
    showPhase(m_value ? 0 : 1);
    m_blink = blink;
    if (m_blink && m_value)
        startBlinking();
    else
        stopBlinking();
}

void TLed::setColor(TColor &field, TColor color)
{
    if (color == field)
        return;
    const bool wasBlinking = m_blink;
    if (wasBlinking)
        setBlink(false);
    field = color;
    buildBitmaps();
    setBlink(wasBlinking);
    update();
}

void TLed::setTrueColor(TColor color)
{
    setColor(m_trueColor, color);
}

void TLed::setFalseColor(TColor color)
{
    setColor(m_falseColor, color);
}

void TLed::setBorderColor(TColor color)
{
    setColor(m_borderColor, color);
}

void TLed::setLEDStyle(TLEDStyle style)
{
    if (style == m_style)
        return;
    m_style = style;
    buildBitmaps();
    update();
}

void TLed::setBordered(bool bordered)
{
    if (bordered == m_bordered)
        return;
    m_bordered = bordered;
    buildBitmaps();
    update();
}

void TLed::setInterval(int milliseconds)
{
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    if (m_timer) {
        if (milliseconds < 0)
            throw framework::ERangeError();
        m_timer->setInterval(uint32_t(milliseconds));
    }
}

void TLed::startBlinking()
{
    if (m_timer)
        return;
    // Checked before the timer exists, so a refused interval leaves no half-made timer behind.
    if (m_interval < 0)
        throw framework::ERangeError();
    m_phase = 0;
    m_timer = new framework::TTimer(this);
    m_timer->setInterval(uint32_t(m_interval));
    m_timer->setOnTimer([this](QObject *) { tick(); });
}

void TLed::stopBlinking()
{
    if (!m_timer)
        return;
    framework::TTimer *timer = m_timer;
    m_timer = nullptr;
    timer->setEnabled(false);
    // A handler of this very tick may stop the blinking: the timer is then still delivering.
    if (m_inTick)
        timer->deleteLater();
    else
        delete timer;
}

void TLed::tick()
{
    m_inTick = true;
    struct Reset
    {
        bool &flag;
        ~Reset() { flag = false; }
    } reset { m_inTick };
    showPhase(1 - m_phase);
    if (OnTimer)
        OnTimer(this);
}

void TLed::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    framework::guard(this, [&] {
        if (OnMouseEnter)
            OnMouseEnter(this);
    });
}

void TLed::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    framework::guard(this, [&] {
        if (OnMouseLeave)
            OnMouseLeave(this);
    });
}

void TLed::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void TLed::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click) {
        framework::guard(this, [&] {
            if (OnClick)
                OnClick(this);
        });
    }
}

bool TLed::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && !m_showHint) {
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

} // namespace controls
