#include "TextRenderer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

namespace quillex::monitor {

void TRgbImage::Resize(int W, int H, uint32_t Rgb)
{
    Width = W;
    Height = H;
    Pixels.assign(size_t(W) * size_t(H) * 3, 0);
    Fill(0, 0, W, H, Rgb);
}

void TRgbImage::Set(int X, int Y, uint32_t Rgb)
{
    if (X < 0 || Y < 0 || X >= Width || Y >= Height)
        return;
    uint8_t* p = Row(Y) + 3 * X;
    p[0] = uint8_t(Rgb >> 16);
    p[1] = uint8_t(Rgb >> 8);
    p[2] = uint8_t(Rgb);
}

uint32_t TRgbImage::At(int X, int Y) const
{
    const uint8_t* p = Row(Y) + 3 * X;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

void TRgbImage::Fill(int X, int Y, int W, int H, uint32_t Rgb)
{
    for (int y = std::max(Y, 0); y < std::min(Y + H, Height); ++y)
        for (int x = std::max(X, 0); x < std::min(X + W, Width); ++x)
            Set(x, y, Rgb);
}

const std::vector<std::string>& TTextRenderer::FontFiles()
{
    static const std::vector<std::string> files = {
        "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
        "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
        "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
    return files;
}

TTextRenderer::TTextRenderer(int PixelSize)
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0)
        return;
    FT_Face face = nullptr;
    for (const std::string& file : FontFiles()) {
        if (FT_New_Face(library, file.c_str(), 0, &face) == 0) {
            FFontFile = file;
            break;
        }
        face = nullptr;
    }
    if (face != nullptr && FT_Set_Pixel_Sizes(face, 0, FT_UInt(PixelSize)) == 0) {
        FHasFont = true;
        FAscent = int(face->size->metrics.ascender >> 6);
        FLineHeight = int((face->size->metrics.ascender - face->size->metrics.descender) >> 6);
        for (int c = 32; c < 128; ++c) {
            if (FT_Load_Char(face, FT_ULong(c), FT_LOAD_RENDER) != 0)
                continue;
            const FT_GlyphSlot slot = face->glyph;
            TGlyph& g = FGlyphs[size_t(c - 32)];
            g.Left = slot->bitmap_left;
            g.Top = slot->bitmap_top;
            g.Width = int(slot->bitmap.width);
            g.Rows = int(slot->bitmap.rows);
            g.Advance = int(slot->advance.x >> 6);
            g.Coverage.resize(size_t(g.Width) * size_t(g.Rows));
            for (int y = 0; y < g.Rows; ++y)
                std::copy_n(slot->bitmap.buffer + y * slot->bitmap.pitch, g.Width,
                            g.Coverage.begin() + ptrdiff_t(y) * g.Width);
        }
    }
    if (face != nullptr)
        FT_Done_Face(face);
    FT_Done_FreeType(library);
}

const TTextRenderer::TGlyph& TTextRenderer::Glyph(char C) const
{
    const auto c = static_cast<unsigned char>(C);
    return FGlyphs[c >= 32 && c < 128 ? c - 32 : '?' - 32];
}

int TTextRenderer::Width(const std::string& Text) const
{
    int width = 0;
    for (const char c : Text)
        width += Glyph(c).Advance;
    return width;
}

void TTextRenderer::Draw(TRgbImage& Image, int X, int Top, const std::string& Text,
                         uint32_t Rgb) const
{
    const int baseline = Top + FAscent;
    const int colour[3] = {int(Rgb >> 16 & 0xff), int(Rgb >> 8 & 0xff), int(Rgb & 0xff)};
    for (const char c : Text) {
        const TGlyph& g = Glyph(c);
        for (int y = 0; y < g.Rows; ++y) {
            const int py = baseline - g.Top + y;
            if (py < 0 || py >= Image.Height)
                continue;
            for (int x = 0; x < g.Width; ++x) {
                const int px = X + g.Left + x;
                const int a = g.Coverage[size_t(y) * size_t(g.Width) + size_t(x)];
                if (a == 0 || px < 0 || px >= Image.Width)
                    continue;
                uint8_t* p = Image.Row(py) + 3 * px;
                for (int k = 0; k < 3; ++k)
                    p[k] = uint8_t((p[k] * (255 - a) + colour[k] * a + 127) / 255);
            }
        }
        X += g.Advance;
    }
}

} // namespace quillex::monitor
