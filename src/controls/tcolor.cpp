#include "controls/tcolor.h"

#include <QGuiApplication>
#include <QPalette>

namespace controls {

QColor toQColor(TColor color)
{
    return toQColor(color, QGuiApplication::palette());
}

QColor toQColor(TColor color, const QPalette &palette)
{
    if ((color & kSystemColorFlag) == 0)
        return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
    switch (color) {
    case clBtnFace:
        return palette.color(QPalette::Button);
    case clWindowText:
        return palette.color(QPalette::WindowText);
    case clBtnShadow:
        return palette.color(QPalette::Dark);
    case clBtnHighlight:
        return palette.color(QPalette::Light);
    default:
        return palette.color(QPalette::Window);
    }
}

} // namespace controls
