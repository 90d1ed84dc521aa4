#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

namespace controls {

// Loads one of the controls' built-in bitmaps (for example "led/bsm.xpm") as a 32-bit image at
// its natural size. A missing resource gives a null image.
QImage loadControlBitmap(const QString &name);

// Replaces the connected region of pixels of colour target that contains start with fill.
// Neighbours are the four pixels sharing an edge: pixels touching only at a corner are not
// connected. Nothing happens when start lies outside the image or is not of colour target.
// The image must be in QImage::Format_RGB32 or Format_ARGB32.
void floodFill(QImage &image, QPoint start, QRgb target, QRgb fill);

} // namespace controls
