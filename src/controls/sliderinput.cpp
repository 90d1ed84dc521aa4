// Keyboard, mouse, focus and stored-property handling of TCustomSlider.
#include "controls/rounding.h"
#include "controls/slider.h"
#include "framework/application.h"
#include "framework/controlfiler.h"
#include "framework/noticesink.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace controls {

namespace {
constexpr uintptr_t kRepeatTimerId = 1;
constexpr uint32_t kRepeatMilliseconds = 400;
const char *const kPictureProperties[4] = { "ImageHThumb", "ImageHRuler", "ImageVThumb", "ImageVRuler" };
} // namespace

void TCustomSlider::stepValue(Step step)
{
    int64_t target = m_value;
    // Steps count from 0, not from MinValue: the grid is the multiples of Increment.
    const int64_t grid = roundHalfEven(double(m_value) / m_increment) * m_increment;
    switch (step) {
    case Step::Min:
        target = m_minValue;
        break;
    case Step::Max:
        target = m_maxValue;
        break;
    case Step::Up:
        target = grid + m_increment;
        break;
    case Step::Down:
        target = grid - m_increment;
        break;
    case Step::None:
        return;
    }
    if (target >= m_maxValue)
        target = m_maxValue;
    else if (target <= m_minValue)
        target = m_minValue;
    if (target != m_value)
        setValue(int(target));
}

void TCustomSlider::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers shift = event->modifiers() & ~Qt::KeypadModifier;
    Step step = Step::None;
    if (shift == Qt::NoModifier && QGuiApplication::mouseButtons() == Qt::NoButton) {
        switch (event->key()) {
        case Qt::Key_Home:
            step = Step::Min;
            break;
        case Qt::Key_End:
            step = Step::Max;
            break;
        case Qt::Key_Right:
            step = horizontal() ? Step::Up : Step::None;
            break;
        case Qt::Key_Left:
            step = horizontal() ? Step::Down : Step::None;
            break;
        case Qt::Key_Up:
            step = horizontal() ? Step::None : Step::Up;
            break;
        case Qt::Key_Down:
            step = horizontal() ? Step::None : Step::Down;
            break;
        default:
            break;
        }
    }
    if (step == Step::None || !CanModify()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    framework::guard(this, [&] {
        stepValue(step);
        Changed();
    });
}

TCustomSlider::Step TCustomSlider::pressDirection(QPoint point) const
{
    if (horizontal()) {
        if (point.x() < m_thumbRect.left())
            return Step::Down;
        if (point.x() > m_thumbRect.right())
            return Step::Up;
    } else {
        if (point.y() < m_thumbRect.top())
            return Step::Up;
        if (point.y() > m_thumbRect.bottom())
            return Step::Down;
    }
    return Step::None;
}

QRect TCustomSlider::rulerHitRect() const
{
    const QRect ruler(m_rulerOrigin, m_rulerImage.size());
    return horizontal() ? ruler.adjusted(0, -3, 0, 3) : ruler.adjusted(-3, 0, 3, 0);
}

void TCustomSlider::rulerStep()
{
    // The thumb has reached the pointer: the press goes on, but steps no further.
    if (pressDirection(m_pressPoint) != m_pressDirection)
        return;
    stepValue(m_pressDirection);
    if (!m_repeatTimerOn) {
        m_window->setTimer(kRepeatTimerId, kRepeatMilliseconds);
        m_repeatTimerOn = true;
    }
}

void TCustomSlider::stopRulerPress()
{
    if (!m_rulerPressing)
        return;
    m_window->killTimer(kRepeatTimerId);
    m_repeatTimerOn = false;
    m_rulerPressing = false;
    Changed();
}

void TCustomSlider::ThumbMouseDown(int x, int y)
{
    m_dragging = true;
    m_thumbDown = true;
    m_dragOffset = horizontal() ? x - m_thumbRect.left() : y - m_thumbRect.top();
    repaint(m_thumbRect);
}

void TCustomSlider::ThumbMouseMove(int x, int y)
{
    moveThumb((horizontal() ? x : y) - m_dragOffset);
}

void TCustomSlider::ThumbMouseUp()
{
    m_dragging = false;
    m_thumbDown = false;
    repaint(m_thumbRect);
    Changed();
}

void TCustomSlider::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    // The second press of a double click arrives here too (QWidget's double-click handler passes
    // it on): only a plain left press acts.
    if (event->button() != Qt::LeftButton || event->type() == QEvent::MouseButtonDblClick || !CanModify())
        return;
    const QPoint point = event->position().toPoint();
    framework::guard(this, [&] {
        if (focusPolicy() != Qt::NoFocus && isEnabled())
            setFocus(Qt::MouseFocusReason);
        if (m_thumbRect.contains(point)) {
            ThumbMouseDown(point.x(), point.y());
        } else if (rulerHitRect().contains(point)) {
            m_rulerPressing = true;
            m_pressPoint = point;
            m_pressDirection = pressDirection(point);
            rulerStep();
        }
    });
}

void TCustomSlider::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    const QPoint point = event->position().toPoint();
    framework::guard(this, [&] {
        if (m_dragging && (event->buttons() & Qt::LeftButton))
            ThumbMouseMove(point.x(), point.y());
        if (m_rulerPressing)
            m_pressPoint = point;
        updateCursor(point);
    });
}

void TCustomSlider::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    framework::guard(this, [&] {
        stopRulerPress();
        if (m_dragging && event->button() == Qt::LeftButton)
            ThumbMouseUp();
        updateCursor(event->position().toPoint());
    });
}

void TCustomSlider::updateCursor(QPoint point)
{
    if (m_thumbRect.contains(point))
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

void TCustomSlider::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    m_focused = true;
    if (m_options & soShowFocus)
        update();
}

void TCustomSlider::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    m_focused = false;
    if (m_options & soShowFocus)
        update();
}

void TCustomSlider::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update(m_thumbRect);
}

void TCustomSlider::DefineProperties(framework::TFiler &filer)
{
    filer.DefineBinaryProperty(
        QStringLiteral("UserImages"),
        [this](framework::MemoryStream &stream) {
            uint8_t byte = 0;
            if (stream.read(&byte, 1) == 1)
                m_userImageSet = byte & 0x0F;
        },
        [this](framework::MemoryStream &stream) { stream.write(&m_userImageSet, 1); }, m_userImageSet != 0);
    for (int i = 0; i < 4; ++i) {
        filer.DefineBinaryProperty(
            QLatin1String(kPictureProperties[i]),
            [this, i](framework::MemoryStream &stream) {
                QImage image;
                // A damaged picture is skipped: the built-in one stays.
                if (image.loadFromData(stream.bytes(), "PNG"))
                    setImage(i, image);
            },
            [this, i](framework::MemoryStream &stream) {
                QByteArray bytes;
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                m_images[i].save(&buffer, "PNG");
                stream.write(bytes);
            },
            (m_userImageSet & (1u << i)) != 0);
    }
}

} // namespace controls
