#pragma once

#include <QColor>

#include <cstdint>

class QPalette;

namespace controls {

// The framework's 32-bit colour: red, green and blue in the low three bytes (red lowest). A value
// with the top bit set names a system colour by its index in the low byte.
using TColor = uint32_t;

constexpr TColor rgbColor(uint8_t red, uint8_t green, uint8_t blue)
{
    return TColor(red) | (TColor(green) << 8) | (TColor(blue) << 16);
}

constexpr TColor kSystemColorFlag = 0x80000000u;

constexpr TColor clBlack = rgbColor(0, 0, 0);
constexpr TColor clMaroon = rgbColor(128, 0, 0);
constexpr TColor clGreen = rgbColor(0, 128, 0);
constexpr TColor clOlive = rgbColor(128, 128, 0);
constexpr TColor clNavy = rgbColor(0, 0, 128);
constexpr TColor clGray = rgbColor(128, 128, 128);
constexpr TColor clSilver = rgbColor(192, 192, 192);
constexpr TColor clRed = rgbColor(255, 0, 0);
constexpr TColor clLime = rgbColor(0, 255, 0);
constexpr TColor clYellow = rgbColor(255, 255, 0);
constexpr TColor clBlue = rgbColor(0, 0, 255);
constexpr TColor clWhite = rgbColor(255, 255, 255);
// System colours (index of the system colour table).
constexpr TColor clBtnFace = kSystemColorFlag | 15;
constexpr TColor clWindowText = kSystemColorFlag | 8;
constexpr TColor clBtnShadow = kSystemColorFlag | 16;
constexpr TColor clBtnHighlight = kSystemColorFlag | 20;

// The colour as Qt sees it; system colours come from the palette (the application's when none is
// given). Unknown system colour indexes give the palette's window colour.
QColor toQColor(TColor color);
QColor toQColor(TColor color, const QPalette &palette);

} // namespace controls
