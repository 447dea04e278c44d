#include "dxSeriesPoints.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

using namespace dxplot;

namespace {

// Records every polyline handed out, and the joined curve with chunk seams removed.
struct Recorder final : PolylineOutput
{
    std::vector<std::vector<Point>> lines;
    void Polyline(const Point* p, int n) override { lines.emplace_back(p, p + n); }
    std::vector<Point> Joined() const
    {
        std::vector<Point> all;
        for (const auto& l : lines)
            all.insert(all.end(), l.begin() + (all.empty() ? 0 : 1), l.end());
        return all;
    }
};

ViewRange Linear(double nomMax, double yMax)
{
    return ViewRange{0, nomMax, 0, nomMax, 0, yMax};
}

} // namespace

TEST(Decimation, EachColumnKeepsItsExtremesInTheOrderOfItsFirstSample)
{
    // 17 samples over 4 pixels: four samples per column, the last one alone in column 4.
    const std::vector<float> d = {5, 9, 7, 6, 8, 2, 6, 4, 3, 3, 3, 3, 1, 4, 0, 2, 50};
    const PlotBox box{0, 0, 4, 100};
    const ViewRange view = Linear(16, 100);
    const auto m = MakeEquidistantMapping(view, box, 17, false, false, {}, {}, 3000000);
    std::vector<Point> buf(64);
    Recorder rec;
    PointSink sink(buf.data(), 64, rec);
    CollectDecimated(m, d.data(), VisibleIndexRange(m, view, 17, 0, 4), sink);
    sink.Finish();
    auto y = [](float v) { return int(100 - v) + 1; };
    const std::vector<Point> want = {{0, y(5)}, {0, y(9)}, {1, y(8)}, {1, y(2)},  {2, y(3)},
                                     {2, y(3)}, {3, y(4)}, {3, y(0)}, {4, y(50)}, {4, y(50)}};
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_EQ(rec.lines[0], want);
}

TEST(Decimation, ColumnsMatchAReferenceForManyLengthsAndWidths)
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
            // Reference extremes per column.
            std::map<int, std::pair<float, float>> ref;
            for (int i = r.First; i <= r.Last; ++i) {
                auto [it, fresh] = ref.try_emplace(m.XPixelOfIndex(i), d[i - 1], d[i - 1]);
                it->second.first = std::min(it->second.first, d[i - 1]);
                it->second.second = std::max(it->second.second, d[i - 1]);
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
            for (std::size_t k = 0; k < pts.size(); k += 2, ++col) {
                ASSERT_EQ(pts[k].x, col->first);
                ASSERT_EQ(pts[k + 1].x, col->first);
                const auto [lo, hi] = std::minmax(pts[k].y, pts[k + 1].y);
                EXPECT_EQ(lo, m.YPixel(col->second.second));
                EXPECT_EQ(hi, m.YPixel(col->second.first));
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
    EXPECT_LE(r.First, 18001);
    EXPECT_GE(r.First, 17999);
    EXPECT_GE(r.Last, 22001);
    EXPECT_LE(r.Last, 22003);
    // A clip over the right half cuts the range further.
    const IndexRange half = VisibleIndexRange(m, view, n, 400, 800);
    EXPECT_NEAR(half.First, 20000, 2);
    EXPECT_EQ(half.Last, r.Last);
    // A single sample draws nothing and does not divide by zero.
    const auto one = MakeEquidistantMapping(Linear(10, 10), box, 1, false, false, {}, {}, 3000000);
    const IndexRange none = VisibleIndexRange(one, Linear(10, 10), 1, 0, 800);
    EXPECT_GT(none.First, none.Last);
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
    EXPECT_EQ(m.XPixelOfValue(5), 50);
    const auto ref = MakeEquidistantMapping(view, box, 11, false, false, {}, {}, 30000);
    EXPECT_EQ(ref.YPixel(1e30f), -30000);
}

TEST(PairChunks, FortyThousandPairsAreThreeJoinedPolylines)
{
    std::vector<float> xy(2 * 40000);
    for (int i = 0; i < 40000; ++i) {
        xy[2 * i] = i * 0.00025f;
        xy[2 * i + 1] = -100 + (i % 50);
    }
    const ViewRange view = {0, 10, 0, 10, -140, 0};
    const auto m = MakePairMapping(view, {0, 0, 800, 200}, false, false, {}, {}, 3000000);
    std::vector<Point> buf(16384);
    Recorder rec;
    PointSink sink(buf.data(), 16384, rec);
    CollectPairs(m, xy.data(), 40000, sink);
    sink.Finish();
    ASSERT_EQ(rec.lines.size(), 3u);
    for (std::size_t k = 1; k < rec.lines.size(); ++k)
        EXPECT_TRUE(rec.lines[k].front() == rec.lines[k - 1].back());
    EXPECT_EQ(rec.Joined().size(), 40000u);
}
