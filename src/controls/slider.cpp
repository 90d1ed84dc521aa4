#include "controls/slider.h"

#include "controls/bitmaps.h"
#include "controls/rounding.h"
#include "framework/application.h"
#include "framework/exception.h"
#include "framework/noticesink.h"

#include <QPainter>

#include <algorithm>

namespace controls {

namespace {

const char *const kBuiltInPictures[4]
    = { "slider/slider_htb.xpm", "slider/slider_hrl.xpm", "slider/slider_vtb.xpm", "slider/slider_vrl.xpm" };

constexpr uintptr_t kRepeatTimerId = 1;

int clampToInt(int64_t value)
{
    return int(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

} // namespace

TCustomSlider::TCustomSlider(QWidget *owner)
    : QWidget(owner)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    m_window = std::make_unique<framework::NoticeSink>(
        QStringLiteral("TSliderWindow"), this, [this](const framework::Notice &notice) {
            if (notice.message == framework::WM_TIMER && notice.wParam == kRepeatTimerId)
                rulerStep();
        });
    resize(150, 40);
    for (int i = 0; i < 4; ++i)
        m_images[i] = loadControlBitmap(QLatin1String(kBuiltInPictures[i]));
    AdjustLayout();
    m_constructing = false;
}

TCustomSlider::~TCustomSlider()
{
    // No event fires while the slider dies.
    OnChange = nullptr;
    OnChanged = nullptr;
    OnDrawPoints = nullptr;
}

// --- quantities and conversion

QRect TCustomSlider::GetInnerRect() const
{
    QRect r(0, 0, width(), height());
    if (m_bevelStyle != bvNone)
        r.adjust(m_bevelWidth, m_bevelWidth, -m_bevelWidth, -m_bevelWidth);
    return r;
}

const QImage &TCustomSlider::thumbImage() const
{
    return m_images[horizontal() ? ImageHThumbIndex : ImageVThumbIndex];
}

QSize TCustomSlider::thumbSize() const
{
    const QImage &image = thumbImage();
    return { image.width() / m_numThumbStates, image.height() };
}

int TCustomSlider::thumbLength() const
{
    return horizontal() ? thumbSize().width() : thumbSize().height();
}

int TCustomSlider::TravelLength() const
{
    return (horizontal() ? m_rulerImage.width() : m_rulerImage.height()) - thumbLength();
}

int TCustomSlider::start() const
{
    const QRect inner = GetInnerRect();
    return (horizontal() ? inner.left() : inner.top()) + 6;
}

int TCustomSlider::ValueToPosition(int value) const
{
    const int64_t span = range();
    const double fraction = span > 0 ? double(int64_t(value) - m_minValue) / double(span) : 0.0;
    int64_t p = roundHalfEven(TravelLength() * fraction) + start();
    if (!horizontal()) {
        const QRect inner = GetInnerRect();
        p = int64_t(inner.top()) + (inner.top() + inner.height()) - p - thumbSize().height();
    }
    return clampToInt(std::max<int64_t>(p, start()));
}

int TCustomSlider::PositionToValue(int position) const
{
    const int travel = TravelLength();
    if (travel <= 0)
        return m_value;
    int64_t p = position;
    if (!horizontal())
        p = int64_t(height()) - p - thumbSize().height();
    const int64_t offset = p - GetInnerRect().left() - 6;
    int64_t v = roundHalfEven(double(offset) * double(range()) / double(travel));
    if (!(m_options & soSmooth))
        v = roundHalfEven(double(v) / m_increment) * m_increment;
    return clampToInt(std::min<int64_t>(std::max<int64_t>(v, 0) + m_minValue, m_maxValue));
}

int TCustomSlider::snapPosition(int p) const
{
    const int first = start();
    const int last = first + std::max(TravelLength(), 0);
    p = std::clamp(p, first, last);
    return std::min(ValueToPosition(PositionToValue(p)), last);
}

void TCustomSlider::moveThumb(int p)
{
    p = snapPosition(p);
    update(m_thumbRect);
    if (horizontal())
        m_thumbRect.moveTopLeft(QPoint(p, m_thumbRect.top()));
    else
        m_thumbRect.moveTopLeft(QPoint(m_thumbRect.left(), p));
    update(m_thumbRect);
    if (m_dragging) {
        const int before = m_value;
        m_value = PositionToValue(p);
        if (m_value != before)
            Change();
    }
}

// --- properties

void TCustomSlider::setValue(int value)
{
    if (value < m_minValue)
        value = m_minValue;
    else if (value > m_maxValue)
        value = m_maxValue;
    const int before = m_value;
    m_value = value;
    moveThumb(ValueToPosition(value));
    if (value != before)
        Change();
}

void TCustomSlider::setMinValue(int value)
{
    if (value != m_minValue)
        setRange(value, m_maxValue);
}

void TCustomSlider::setMaxValue(int value)
{
    if (value != m_maxValue)
        setRange(m_minValue, value);
}

void TCustomSlider::setRange(int minValue, int maxValue)
{
    // While reading stored settings the pair may pass through an inverted state.
    if (!m_loading && minValue >= maxValue)
        return;
    m_minValue = minValue;
    m_maxValue = maxValue;
    if (!m_loading && int64_t(maxValue) < int64_t(minValue) + m_increment)
        m_increment = clampToInt(range());
    if (m_options & soShowPoints)
        update();
    setValue(m_value);
    RangeChanged();
}

void TCustomSlider::setIncrement(int value)
{
    if (!m_loading && (value < 1 || value > range()))
        throw framework::Exception(QStringLiteral("Value must be between %1 and %2").arg(1).arg(range()));
    if (value > 0 && value != m_increment) {
        m_increment = value;
        setValue(m_value);
        update();
    }
}

void TCustomSlider::setEdgeSize(int value)
{
    const QImage &ruler = m_images[horizontal() ? ImageHRulerIndex : ImageVRulerIndex];
    const int length = horizontal() ? ruler.width() : ruler.height();
    // A negative edge would make the tiled middle reach beyond the picture.
    if (value < 0 || 2 * int64_t(value) >= length || value == m_edgeSize)
        return;
    m_edgeSize = value;
    AdjustLayout();
}

void TCustomSlider::setNumThumbStates(int states)
{
    if (states < 1 || states > 2)
        throw framework::ERangeError();
    if (states == m_numThumbStates)
        return;
    m_numThumbStates = states;
    m_thumbRect.setSize(thumbSize());
    setValue(m_value);
}

void TCustomSlider::setBevelStyle(TBevelCut style)
{
    if (style == m_bevelStyle)
        return;
    m_bevelStyle = style;
    AdjustLayout();
    repaint();
}

void TCustomSlider::setOptions(TSliderOptions options)
{
    if (options == m_options)
        return;
    m_options = options;
    update();
}

void TCustomSlider::setOrientation(TSliderOrientation orientation)
{
    if (orientation == m_orientation)
        return;
    m_orientation = orientation;
    AdjustLayout();
    m_thumbRect.setSize(thumbSize());
    setValue(m_value);
    if (!m_loading)
        resize(height(), width());
}

void TCustomSlider::setColor(TColor color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TCustomSlider::setTabStop(bool tabStop)
{
    m_tabStop = tabStop;
    setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

const QImage &TCustomSlider::Image(int index) const
{
    if (index < 0 || index > 3)
        throw framework::ERangeError();
    return m_images[index];
}

void TCustomSlider::setImage(int index, const QImage &image)
{
    if (index < 0 || index > 3)
        throw framework::ERangeError();
    if (!image.isNull()) {
        m_images[index] = image.convertToFormat(QImage::Format_RGB32);
        m_userImageSet |= uint8_t(1u << index);
    } else {
        m_images[index] = loadControlBitmap(QLatin1String(kBuiltInPictures[index]));
        m_userImageSet &= uint8_t(~(1u << index));
    }
    if (index == ImageHThumbIndex || index == ImageVThumbIndex) {
        update(m_thumbRect);
        if ((index == ImageHThumbIndex) == horizontal()) {
            m_thumbRect.setSize(thumbSize());
            setValue(m_value);
        }
    }
    if (!m_constructing)
        AdjustLayout();
}

// --- layout

void TCustomSlider::AdjustLayout()
{
    const QRect inner = GetInnerRect();
    buildRuler(inner);
    const QSize thumb = thumbSize();
    const QSize ruler = m_rulerImage.size();
    if (horizontal()) {
        int tickStart;
        if (ruler.height() < thumb.height()) {
            m_thumbRect = QRect(QPoint(inner.left() + 6, inner.top() + 6), thumb);
            m_rulerOrigin = QPoint(inner.left() + 6, inner.top() + 6 + (thumb.height() - ruler.height()) / 2);
            tickStart = inner.top() + thumb.height() + 7;
        } else {
            m_rulerOrigin = QPoint(inner.left() + 6, inner.top() + 6);
            m_thumbRect
                = QRect(QPoint(inner.left() + 6, inner.top() + 6 + (ruler.height() - thumb.height()) / 2), thumb);
            tickStart = inner.top() + ruler.height() + 7;
        }
        m_tickArea = QRect(m_rulerOrigin.x(), tickStart, ruler.width(), inner.top() + inner.height() - tickStart);
    } else {
        int tickStart;
        if (ruler.width() < thumb.width()) {
            m_thumbRect = QRect(QPoint(inner.left() + 6, inner.top() + 6), thumb);
            m_rulerOrigin = QPoint(inner.left() + 6 + (thumb.width() - ruler.width()) / 2, inner.top() + 6);
            tickStart = inner.left() + thumb.width() + 7;
        } else {
            m_rulerOrigin = QPoint(inner.left() + 6, inner.top() + 6);
            m_thumbRect = QRect(QPoint(inner.left() + 6 + (ruler.width() - thumb.width()) / 2, inner.top() + 6), thumb);
            tickStart = inner.left() + ruler.width() + 7;
        }
        m_tickArea = QRect(tickStart, m_rulerOrigin.y(), inner.left() + inner.width() - tickStart, ruler.height());
    }
    setValue(m_value);
    update();
}

void TCustomSlider::buildRuler(const QRect &r)
{
    const bool across = horizontal();
    const QImage &source = m_images[across ? ImageHRulerIndex : ImageVRulerIndex];
    const int length = std::max(0, (across ? r.width() : r.height()) - 12);
    if (length == 0 || source.isNull()) {
        m_rulerImage = QImage();
        return;
    }
    const QSize size = across ? QSize(length, source.height()) : QSize(source.width(), length);
    m_rulerImage = QImage(size, QImage::Format_RGB32);
    m_rulerImage.fill(source.pixel(0, source.height() - 1));
    QPainter painter(&m_rulerImage);
    // Copies source [from, to) to target [at, ...) along the ruler.
    const auto copy = [&](int at, int from, int to) {
        if (to <= from)
            return;
        if (across)
            painter.drawImage(QPoint(at, 0), source, QRect(from, 0, to - from, source.height()));
        else
            painter.drawImage(QPoint(0, at), source, QRect(0, from, source.width(), to - from));
    };
    const int e = m_edgeSize;
    const int s = across ? source.width() : source.height();
    const int m = s - 2 * e;
    const int t = length - 2 * e;
    if (m <= 0) {
        copy(0, 0, s);
        return;
    }
    const int n = t / m;
    const int rest = t % m;
    copy(0, 0, s - e);
    for (int i = 1; i < n; ++i)
        copy(e + i * m, e, e + m);
    if (n > 0)
        copy(e + n * m, e + m - rest, s);
}

void TCustomSlider::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!m_loading && !m_constructing)
        framework::guard(this, [&] { AdjustLayout(); });
}

// --- stored settings

void TCustomSlider::loadStored(const std::function<void()> &applyStoredValues)
{
    beginLoading();
    if (applyStoredValues)
        applyStoredValues();
    endLoading();
}

void TCustomSlider::Loaded()
{
    m_loading = false;
    // Re-apply the user's pictures so the layout follows them; the size may have changed too.
    for (int i = 0; i < 4; ++i) {
        if (m_userImageSet & (1u << i)) {
            const QImage image = m_images[i];
            setImage(i, image);
        }
    }
    AdjustLayout();
}

// --- events

void TCustomSlider::Change()
{
    if (OnChange)
        OnChange(this);
}

void TCustomSlider::Changed()
{
    if (OnChanged)
        OnChanged(this);
}

} // namespace controls
