#pragma once

#include <QIcon>

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
