#include "controls/bitmaps.h"

#include <vector>

// The resource initialiser lives in this static library; calling it here keeps the linker from
// dropping the bitmaps from programs that use the controls.
static void initControlResources()
{
    Q_INIT_RESOURCE(controls);
}

namespace controls {

QImage loadControlBitmap(const QString &name)
{
    static const bool initialised = (initControlResources(), true);
    Q_UNUSED(initialised);
    QImage image(QStringLiteral(":/controls/") + name);
    if (image.isNull())
        return image;
    return image.convertToFormat(QImage::Format_RGB32);
}

void floodFill(QImage &image, QPoint start, QRgb target, QRgb fill)
{
    if (!image.rect().contains(start))
        return;
    const auto same = [](QRgb a, QRgb b) { return (a & 0xFFFFFF) == (b & 0xFFFFFF); };
    if (!same(image.pixel(start), target) || same(target, fill))
        return;
    // Explicit stack: a recursive fill would overflow on large images.
    std::vector<QPoint> pending { start };
    while (!pending.empty()) {
        const QPoint p = pending.back();
        pending.pop_back();
        if (!image.rect().contains(p) || !same(image.pixel(p), target))
            continue;
        image.setPixel(p, fill);
        pending.push_back(p + QPoint(1, 0));
        pending.push_back(p - QPoint(1, 0));
        pending.push_back(p + QPoint(0, 1));
        pending.push_back(p - QPoint(0, 1));
    }
}

} // namespace controls
