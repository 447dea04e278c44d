#pragma once

#include <QColor>
#include <cstdint>

// Colour values as stored in layouts: red in the low byte, then green, then blue.
// Negative values name a system colour that is resolved from the palette when drawn.
using TColor = std::int32_t;

constexpr TColor SystemColor(std::uint32_t index)
{
    return static_cast<TColor>(0x80000000u | index);
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clSkyBlue = 0xF0CAA6;

constexpr TColor clWindow = SystemColor(0x05);
constexpr TColor clWindowText = SystemColor(0x08);
constexpr TColor clHighlight = SystemColor(0x0D);
constexpr TColor clBtnFace = SystemColor(0x0F);
constexpr TColor clBtnShadow = SystemColor(0x10);
constexpr TColor clBtnText = SystemColor(0x12);
constexpr TColor clBtnHighlight = SystemColor(0x14);
constexpr TColor clMenuBar = SystemColor(0x1E);

constexpr bool IsSystemColor(TColor c)
{
    return c < 0;
}

// Resolves system colours against QApplication::palette(); unknown system colours give black.
QColor ColorToQColor(TColor c);

// Plain (non-system) colour value of a QColor.
TColor QColorToColor(const QColor& c);

// Multiplies red, green and blue (system colours resolved first) by factor, rounded and capped
// at 255; used for the light and dark edges of 3-D frames.
TColor ScaleColor(TColor c, double factor);
