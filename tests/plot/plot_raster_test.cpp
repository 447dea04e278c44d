#include "dxRaster.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <random>
#include <vector>

using namespace dxplot;

namespace {

constexpr int W = 64;
constexpr int H = 48;
constexpr std::uint32_t Bg = 0x11111111;
constexpr std::uint32_t Ink = 0xFFFFFFFF;

struct Image
{
    std::vector<std::uint32_t> px = std::vector<std::uint32_t>(W * H, Bg);
    RasterTarget Target(int l, int t, int r, int b)
    {
        return RasterTarget{px.data(), W, l, t, r, b};
    }
};

// Walks every step of the line without any clipping arithmetic and keeps what lies in the clip.
void ReferenceLine(Image& img, int l, int t, int r, int b, long long x0, long long y0, long long x1,
                   long long y1)
{
    const long long adx = std::llabs(x1 - x0), ady = std::llabs(y1 - y0);
    const int sx = x1 < x0 ? -1 : 1, sy = y1 < y0 ? -1 : 1;
    const long long steps = std::max(adx, ady);
    for (long long s = 0; s < steps; ++s) {
        long long x, y;
        if (adx >= ady) {
            x = x0 + sx * s;
            y = y0 + sy * ((2 * s * ady + adx) / (2 * adx));
        } else {
            y = y0 + sy * s;
            x = x0 + sx * ((2 * s * adx + ady) / (2 * ady));
        }
        if (x >= l && x < r && y >= t && y < b)
            img.px[y * W + x] = Ink;
    }
}

} // namespace

// Random lines and clips, some reaching millions of pixels out; lines along an axis and steps
// of one column or row (a decimated curve is made of them) take short cuts. Every one must draw
// what the walk draws, clipped or not, in every direction.
TEST(RasterLine, MatchesAnUnclippedWalkForRandomLinesAndClips)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> near(-80, 140), step(-1, 1);
    std::uniform_int_distribution<int> far(-3000000, 3000000);
    for (int n = 0; n < 8000; ++n) {
        const int l = near(rng) & 31, t = near(rng) & 15;
        const int r = std::min(l + (near(rng) & 31), W), b = std::min(t + (near(rng) & 31), H);
        int x0 = near(rng), y0 = near(rng), x1 = near(rng), y1 = near(rng);
        if (n < 4000 && n % 200 == 0) {
            x0 = far(rng);
            y1 = far(rng);
        } else if (n >= 4000) {
            (n % 2 ? y1 : x1) = (n % 2 ? y0 : x0) + step(rng);
            if (n % 97 == 0)
                y1 = n % 194 == 0 ? 3000000 : -3000000;
        }
        Image got, want;
        DrawLine(got.Target(l, t, r, b), x0, y0, x1, y1, Ink);
        ReferenceLine(want, l, t, r, b, x0, y0, x1, y1);
        ASSERT_EQ(got.px, want.px) << "line " << x0 << "," << y0 << " -> " << x1 << "," << y1
                                   << " clip " << l << "," << t << "," << r << "," << b;
    }
}

// The zoom band's dotted outline, `dot` pixels thick with dot x dot squares on their
// checkerboard: exactly the outline's pixels on the checkerboard are inverted, once, so a second
// drawing restores the picture, for any size and clip (thin bands included).
TEST(RasterFocusRect, InvertsTheOutlineCheckerboardOnce)
{
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> pos(-5, 60), len(0, 12), dotSize(1, 3);
    for (int n = 0; n < 3000; ++n) {
        const int left = pos(rng), top = pos(rng) % 44;
        const int right = left + len(rng), bottom = top + len(rng);
        const int dot = dotSize(rng);
        const int cl = n % 3, ct = n % 5, cr = W - n % 4, cb = H - n % 6;
        Image got;
        for (std::size_t i = 0; i < got.px.size(); ++i)
            got.px[i] = std::uint32_t(i * 2654435761u);
        const Image original = got;
        InvertFocusRect(got.Target(cl, ct, cr, cb), left, top, right, bottom, dot);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool inside = x >= left && x < right && y >= top && y < bottom;
                const bool outline = inside && (x < left + dot || x >= right - dot ||
                                                y < top + dot || y >= bottom - dot);
                const bool dotted = outline && ((x / dot + y / dot) & 1) == 0;
                const bool clipped = x >= cl && x < cr && y >= ct && y < cb;
                const std::uint32_t c = original.px[y * W + x];
                ASSERT_EQ(got.px[y * W + x], dotted && clipped ? c ^ 0x00FFFFFFu : c)
                    << x << "," << y << " in " << left << "," << top << " .. " << right << ","
                    << bottom << " dot " << dot;
            }
        InvertFocusRect(got.Target(cl, ct, cr, cb), left, top, right, bottom, dot);
        ASSERT_EQ(got.px, original.px);
    }
}

// Inner polyline vertices are drawn, the last point is not; fills stay inside the clip.
TEST(RasterShapes, PolylineVerticesAndFillClip)
{
    Image poly;
    const Point pts[] = {{5, 5}, {5, 20}, {30, 20}, {30, 10}};
    DrawPolyline(poly.Target(0, 0, W, H), pts, 4, Ink);
    EXPECT_EQ(poly.px[20 * W + 5], Ink);
    EXPECT_EQ(poly.px[20 * W + 30], Ink);
    EXPECT_EQ(poly.px[10 * W + 30], Bg);
    EXPECT_EQ(poly.px[11 * W + 30], Ink);

    Image img;
    FillRect(img.Target(10, 10, 20, 15), -5, -5, 100, 12, Ink);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(img.px[y * W + x], (x >= 10 && x < 20 && y >= 10 && y < 12) ? Ink : Bg)
                << x << "," << y;
    // Rectangles beside, above or below the clip, or empty, leave everything alone.
    for (const auto [l, t, r, b] :
         {std::array{25, 11, 40, 13}, std::array{0, 11, 8, 13}, std::array{12, 0, 18, 5},
          std::array{12, 20, 18, 30}, std::array{15, 11, 15, 13}, std::array{18, 13, 12, 11}}) {
        Image untouched;
        FillRect(untouched.Target(10, 10, 20, 15), l, t, r, b, Ink);
        EXPECT_EQ(untouched.px, Image().px) << l << "," << t << " .. " << r << "," << b;
    }
}
