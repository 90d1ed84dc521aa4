#pragma once

#include <QImage>
#include <QWidget>

namespace controlstest {

// The widget's pixels as painted now (offscreen).
inline QImage pixels(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb rgb(int r, int g, int b)
{
    return qRgb(r, g, b);
}

} // namespace controlstest
