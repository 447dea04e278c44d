#include "dxSeriesPoints.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <vector>

using namespace dxplot;

namespace {

// Records every polyline handed out, and the joined curve with chunk seams removed: a chunk
// starts where the one before it ended, or the curve would break between them.
struct Recorder final : PolylineOutput
{
    std::vector<std::vector<Point>> lines;
    void Polyline(const Point* p, int n) override { lines.emplace_back(p, p + n); }
    std::vector<Point> Joined() const
    {
        std::vector<Point> all;
        for (const auto& l : lines) {
            if (!all.empty()) {
                EXPECT_EQ(l.front(), all.back());
            }
            all.insert(all.end(), l.begin() + (all.empty() ? 0 : 1), l.end());
        }
        return all;
    }
};

} // namespace

TEST(Decimation, ColumnsKeepTheirExtremesInOrderForManyLengthsAndWidths)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> level(-130, -20);
    for (int count : {3, 17, 1000, 4096, 8192, 40000}) {
        for (int w : {1, 7, 592, 785, 2000}) {
            std::vector<float> d(count);
            for (float& v : d)
                v = level(rng);
            const PlotBox box{60, 10, 60 + w, 228};
            const ViewRange view = {0, 40000, 0, 40000, -140, 0};
            const auto m = MakeEquidistantMapping(view, box, count, false, false, {}, {}, 3000000);
            const IndexRange r = VisibleIndexRange(m, view, count, box.Left, box.Right);
            // Per column: its first sample, its minimum and its maximum.
            std::map<int, std::array<float, 3>> ref;
            for (int i = r.First; i <= r.Last; ++i) {
                const float v = d[i - 1];
                auto& [first, lo, hi] =
                    ref.try_emplace(m.XPixelOfIndex(i), std::array{v, v, v}).first->second;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            const int cap = std::min(count, 16384);
            std::vector<Point> buf(cap + 4, Point{-7, -7});
            Recorder rec;
            PointSink sink(buf.data(), cap, rec);
            CollectDecimated(m, d.data(), r, sink);
            sink.Finish();
            for (int g = cap; g < cap + 4; ++g)
                ASSERT_TRUE(buf[g] == (Point{-7, -7})) << "buffer overrun";
            const auto pts = rec.Joined();
            ASSERT_EQ(pts.size(), 2 * ref.size()) << count << " samples, " << w << " px";
            auto col = ref.begin();
            // Both extremes of each column; the minimum first only if the column starts at it.
            for (std::size_t k = 0; k < pts.size(); k += 2, ++col) {
                const auto [first, lo, hi] = col->second;
                ASSERT_EQ(pts[k].x, col->first);
                ASSERT_EQ(pts[k + 1].x, col->first);
                ASSERT_EQ(pts[k].y, m.YPixel(first == lo ? lo : hi));
                ASSERT_EQ(pts[k + 1].y, m.YPixel(first == lo ? hi : lo));
            }
        }
    }
}

TEST(VisibleRange, ATenthOfTheViewVisitsATenthOfTheSamplesAndOneSampleNone)
{
    const int n = 40001;
    const ViewRange view = {0, 40000, 18000, 22000, -140, 0};
    const PlotBox box{0, 0, 800, 200};
    const auto m = MakeEquidistantMapping(view, box, n, false, false, {}, {}, 3000000);
    const IndexRange r = VisibleIndexRange(m, view, n, 0, 800);
    EXPECT_NEAR(r.First, 18000, 1);
    EXPECT_NEAR(r.Last, 22002, 1);
    // A clip over the right half cuts the range further, keeping the sample left of its edge
    // (sample 20001 lies on column 400) for the line into it.
    const IndexRange half = VisibleIndexRange(m, view, n, 400, 800);
    EXPECT_NEAR(half.First, 19999.5, 0.5);
    EXPECT_EQ(half.Last, r.Last);
    // A view reaching far to the left of the data still starts at the first sample.
    const ViewRange wide = {0, 40000, -1e15, 40000, -140, 0};
    const auto far = MakeEquidistantMapping(wide, box, n, false, false, {}, {}, 3000000);
    EXPECT_EQ(VisibleIndexRange(far, wide, n, 0, 800).First, 1);
    // A single sample draws nothing and does not divide by zero.
    const ViewRange ten{0, 10, 0, 10, 0, 10};
    const auto one = MakeEquidistantMapping(ten, box, 1, false, false, {}, {}, 3000000);
    const IndexRange none = VisibleIndexRange(one, ten, 1, 0, 800);
    EXPECT_GT(none.First, none.Last);
}

// On random zoomed views, linear and logarithmic in X, at random clips and device ratios: the
// range holds every sample drawn inside the clip and the one left of it (for the line into
// it), and little more.
TEST(VisibleRange, HoldsTheSamplesInsideTheClipAndTheOneLeftOfIt)
{
    std::mt19937 rng(8);
    const auto u = [&](double a, double b) { return std::uniform_real_distribution<>(a, b)(rng); };
    for (int trial = 0; trial < 400; ++trial) {
        const bool logX = trial % 2;
        const int n = int(u(2, 5000));
        const double nomMin = logX ? u(1, 100) : u(-1000, 1000), nomMax = nomMin + u(1, 5000);
        const double curMin = nomMin + u(logX ? 0 : -0.1, 0.8) * (nomMax - nomMin);
        const double curMax = curMin + u(0.01, 0.5) * (nomMax - nomMin);
        const ViewRange view{nomMin, nomMax, curMin, curMax, -140, 0};
        const PlotBox box{40, 10, 40 + int(u(50, 900)), 300};
        const double scale = trial % 3 ? 1.0 : 1.5;
        LogMapping lx;
        ASSERT_TRUE(!logX || UpdateLogXMapping(lx, float(curMin), float(curMax), float(nomMin),
                                               float(nomMax), box.Left, box.Right));
        const auto m = MakeEquidistantMapping(view, box, n, logX, false, lx, {}, 3000000, scale);
        const int clipLeft = int((trial % 4 ? u(box.Left, box.Right) : box.Left) * scale);
        const int clipRight = std::min(clipLeft + int(u(1, 300)), int(box.Right * scale));
        int first = n + 1, last = 0;
        for (int i = 1; i <= n; ++i)
            if (m.XPixelOfIndex(i) >= clipLeft && m.XPixelOfIndex(i) < clipRight)
                first = std::min(first, i), last = std::max(last, i);
        if (first > last)
            continue;
        const IndexRange r = VisibleIndexRange(m, view, n, clipLeft, clipRight);
        EXPECT_LE(r.First, std::max(1, first - 1)) << trial;
        // A logarithmic X axis ends a zoomed view's range a sample earlier, as its rule says.
        EXPECT_GE(r.Last, logX ? last - 1 : last) << trial;
        EXPECT_GE(r.First, first - 3) << trial;
        EXPECT_LE(r.Last, last + 3) << trial;
    }
}

TEST(Clamping, FarValuesKeepTheirDirection)
{
    const ViewRange view = {0, 10, 0, 10, -140, 0};
    const PlotBox box{0, 0, 100, 100};
    const auto m = MakePairMapping(view, box, false, false, {}, {}, 3000000);
    EXPECT_EQ(m.YPixel(1e30f), -3000000);
    EXPECT_EQ(m.YPixel(-1e30f), 3000000);
    EXPECT_EQ(m.YPixel(NAN), 3000000);
    EXPECT_EQ(m.XPixelOfValue(1e30f), 3000000);
    EXPECT_EQ(m.XPixelOfValue(-1e30f), -3000000);
    // Zoomed to 2 .. 6 on a plot from 10 to 110: 25 pixels a unit from the left edge.
    const auto zoomed =
        MakePairMapping({0, 10, 2, 6, -140, 0}, {10, 0, 110, 100}, false, false, {}, {}, 3000000);
    EXPECT_EQ(zoomed.XPixelOfValue(3), 35);
    EXPECT_EQ(zoomed.XPixelOfValue(5.5), 97);
    // On a surface of 1.5 device pixels a logical one: device column floor(1.5 * x).
    const auto dense = MakePairMapping({0, 10, 2, 6, -140, 0}, {10, 0, 110, 100}, false, false, {},
                                       {}, 3000000, 1.5);
    EXPECT_EQ(dense.XPixelOfValue(3), 52);
    EXPECT_EQ(dense.XPixelOfValue(5.5), 146);
    const auto ref = MakeEquidistantMapping(view, box, 11, false, false, {}, {}, 30000);
    EXPECT_EQ(ref.YPixel(1e30f), -30000);
    // Inside the view a level lands one row below its truncated offset from the top.
    EXPECT_EQ(ref.YPixel(-70), 51);
    EXPECT_EQ(ref.YPixel(-0.5f), 1);
}

// On a surface of s device pixels per logical one, a sample lands on the device pixel of its
// fractional logical position: column floor(s * x), row floor(s * (y + 1)) (a level is drawn
// one logical row below its truncated position); on logarithmic axes floor(s * position). At
// s = 1 that is the logical rule itself.
TEST(DeviceMapping, SamplesLandOnTheDevicePixelsOfTheirLogicalPositions)
{
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> level(-139, -1);
    const PlotBox box{61, 13, 806, 227};
    const ViewRange view{0, 40000, 3000, 31000, -140, 0.1f};
    const int n = 4096;
    for (double s : {1.0, 1.25, 1.5, 2.0, 3.0}) {
        const auto m = MakeEquidistantMapping(view, box, n, false, false, {}, {}, 3000000, s);
        const double w = box.Right - box.Left, h = box.Bottom - box.Top;
        const double xs = 40000.0 * w / 28000.0 / (n - 1);
        const double xo = (0.0 - 3000.0) * w / 28000.0 + box.Left - xs;
        const double ys = -h / 140.1, yo = h * -140.0 / 140.1 + box.Bottom;
        for (int k = 0; k < 500; ++k) {
            // Samples inside the view (3000 .. 31000 of 0 .. 40000).
            const int i = 310 + int(rng() % 2860);
            const float v = level(rng);
            const double x = i * xs + xo;
            const double y = v * ys + yo;
            ASSERT_EQ(m.XPixelOfIndex(i), int(std::floor(s * x + 1e-9))) << s << " " << i;
            ASSERT_EQ(m.YPixel(v), int(std::floor(s * (y + 1) + 1e-9))) << s << " " << v;
            if (s == 1.0) {
                ASSERT_EQ(m.YPixel(v), int(std::trunc(y)) + 1);
            }
        }
        LogMapping log;
        ASSERT_TRUE(UpdateLogYMapping(log, 1e-12f, 1.0f, box.Top, box.Bottom));
        for (double v : {1e-12, 3.3e-9, 1e-5, 0.5, 1.0})
            EXPECT_EQ(log.ToPixel(v, s),
                      int(std::trunc(s * (std::log(v) * log.Factor + log.Offset))))
                << s << " " << v;
    }
}
