// Painting of TCustomSlider: bevel, background, ruler, focus rectangle, ticks and thumb.
#include "controls/rounding.h"
#include "controls/slider.h"
#include "framework/application.h"

#include <QPainter>
#include <QRegion>

#include <algorithm>

namespace controls {

namespace {

// The picture with the colour of its bottom-left pixel made transparent, as bitmaps drawn
// "transparently" are keyed.
QImage keyed(const QImage &image)
{
    if (image.isNull())
        return image;
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = result.pixel(0, result.height() - 1) | 0xFF000000;
    for (int y = 0; y < result.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if ((line[x] | 0xFF000000) == key)
                line[x] = 0;
    }
    return result;
}

} // namespace

std::vector<TCustomSlider::Tick> TCustomSlider::tickMarks(int step, int tickLength, int endTickLength) const
{
    std::vector<Tick> ticks;
    const int64_t span = range();
    if (step < 1 || span < 0)
        return ticks;
    const int travel = TravelLength();
    // Start the search near the answer: below k0 the ticks would be closer than 4 pixels, so the
    // search stays short even for huge ranges with a small step.
    const int64_t room = std::max(travel / 4, 1);
    int64_t k = std::max<int64_t>(1, span / (int64_t(step) * (room + 1)));
    int64_t stride = 0;
    int64_t count = 0;
    for (;; ++k) {
        stride = int64_t(step) * k;
        count = roundHalfEven(double(span) / double(stride)) + 1;
        if (count <= 2 || travel / (count - 1) >= 4)
            break;
    }
    const int half = thumbLength() / 2;
    for (int64_t i = 0; i < count; ++i) {
        const int value = i == count - 1 ? m_maxValue : int(m_minValue + i * stride);
        const bool end = value == m_minValue || value == m_maxValue;
        ticks.push_back({ value, ValueToPosition(value) + half, end ? endTickLength : tickLength });
    }
    return ticks;
}

void TCustomSlider::DrawTicks(int step, int tickLength, int endTickLength)
{
    if (!m_canvas)
        return;
    const QColor pen = toQColor(clWindowText, palette());
    for (const Tick &tick : tickMarks(step, tickLength, endTickLength)) {
        if (tick.length <= 0)
            continue;
        if (horizontal())
            m_canvas->fillRect(QRect(tick.position, m_tickArea.top(), 1, tick.length), pen);
        else
            m_canvas->fillRect(QRect(m_tickArea.left(), tick.position, tick.length, 1), pen);
    }
}

void TCustomSlider::drawThumb(QPainter &painter, QPoint at, bool secondState)
{
    const QImage &picture = thumbImage();
    QImage buffer(m_thumbRect.size(), QImage::Format_RGB32);
    if (buffer.isNull())
        return;
    buffer.fill(toQColor(m_color, palette()));
    const int stateWidth = picture.width() / m_numThumbStates;
    const int left = (m_numThumbStates == 2 && secondState) ? stateWidth : 0;
    {
        QPainter onBuffer(&buffer);
        onBuffer.drawImage(QPoint(0, 0), keyed(picture), QRect(left, 0, stateWidth, picture.height()));
    }
    painter.drawImage(at, buffer);
}

void TCustomSlider::paintEvent(QPaintEvent *)
{
    framework::guard(this, [&] {
        QPainter painter(this);
        painter.save();
        painter.setClipRegion(QRegion(rect()).subtracted(QRegion(m_thumbRect)));
        QRect r = rect();
        if (m_bevelStyle != bvNone) {
            QColor topLeft = toQColor(clBtnHighlight, palette());
            QColor bottomRight = toQColor(clBtnShadow, palette());
            if (m_bevelStyle == bvLowered)
                std::swap(topLeft, bottomRight);
            for (int i = 0; i < m_bevelWidth; ++i) {
                painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
                painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
                painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
                painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
                // The frame's corners where the two colours meet belong to the top-left colour.
                painter.fillRect(QRect(r.right(), r.top(), 1, 1), topLeft);
                painter.fillRect(QRect(r.left(), r.bottom(), 1, 1), bottomRight);
                r.adjust(1, 1, -1, -1);
            }
        }
        painter.fillRect(r, toQColor(m_color, palette()));
        if (!m_rulerImage.isNull())
            painter.drawImage(m_rulerOrigin, keyed(m_rulerImage));
        if ((m_options & soShowFocus) && m_focused) {
            QPen dots(toQColor(clWindowText, palette()), 1, Qt::DotLine);
            painter.setPen(dots);
            painter.setBrush(Qt::NoBrush);
            const QRect focus = GetInnerRect().adjusted(2, 2, -2, -2);
            painter.drawRect(focus.adjusted(0, 0, -1, -1));
        }
        if (m_options & soShowPoints) {
            m_canvas = &painter;
            struct Release
            {
                QPainter *&canvas;
                ~Release() { canvas = nullptr; }
            } release { m_canvas };
            if (OnDrawPoints)
                OnDrawPoints(this);
            else
                DrawTicks(m_increment, 3, 5);
        }
        painter.restore();
        drawThumb(painter, m_thumbRect.topLeft(), m_thumbDown || !isEnabled());
    });
}

} // namespace controls
