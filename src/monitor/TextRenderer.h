#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Text for the monitor's images without a GUI library: FreeType renders the glyphs of the
// Liberation Sans font (Debian's fonts-liberation2, metric-compatible with the exporter's
// images) once, and they are blended into RGB pixels from then on.
namespace quillex::monitor {

// An 8-bit RGB image in memory, 3 bytes a pixel, rows one after the other.
struct TRgbImage
{
    int Width = 0, Height = 0;
    std::vector<uint8_t> Pixels;

    void Resize(int W, int H, uint32_t Rgb);
    uint8_t* Row(int Y) { return Pixels.data() + size_t(Y) * size_t(Width) * 3; }
    const uint8_t* Row(int Y) const { return Pixels.data() + size_t(Y) * size_t(Width) * 3; }
    void Set(int X, int Y, uint32_t Rgb);
    uint32_t At(int X, int Y) const;
    void Fill(int X, int Y, int W, int H, uint32_t Rgb);
};

class TTextRenderer
{
public:
    // The fonts tried in order; the first that FreeType opens is used.
    static const std::vector<std::string>& FontFiles();

    explicit TTextRenderer(int PixelSize = 12);
    // Without a font, texts have no width and draw nothing.
    bool HasFont() const { return FHasFont; }
    const std::string& FontFile() const { return FFontFile; }
    int LineHeight() const { return FLineHeight; }
    int Width(const std::string& Text) const;
    // Text in its line box with the box's top left at X, Top.
    void Draw(TRgbImage& Image, int X, int Top, const std::string& Text, uint32_t Rgb) const;

private:
    struct TGlyph
    {
        int Left = 0, Top = 0, Width = 0, Rows = 0, Advance = 0;
        std::vector<uint8_t> Coverage;
    };
    const TGlyph& Glyph(char C) const;

    bool FHasFont = false;
    std::string FFontFile;
    int FLineHeight = 0, FAscent = 0;
    std::array<TGlyph, 96> FGlyphs; // printable ASCII; anything else draws as '?'
};

} // namespace quillex::monitor
