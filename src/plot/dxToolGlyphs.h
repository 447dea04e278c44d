#pragma once

#include <QIcon>

#include <functional>

class QPainter;

// An icon drawn by Draw in a 24 x 24 design square, scaled and centred to whatever rectangle Qt
// asks for, never a bitmap scaled. Draw is told the mode, so it can show a disabled look.
QIcon VectorIcon(std::function<void(QPainter&, QIcon::Mode)> Draw);

// Button glyphs of the plot tool bar, drawn as vector shapes at whatever size Qt asks for, so
// they stay sharp when the window is scaled. Fixed colours: they look the same in every theme.
enum class TToolGlyph {
    HairCross,
    Zoom,
    LowerRef,
    Curves,
    Calculate,
    UpperRef,
    AutoScale,
    Capture,
    ValueBar,
    Title,
    Grid,
    Axis
};

QIcon ToolGlyphIcon(TToolGlyph Glyph);
