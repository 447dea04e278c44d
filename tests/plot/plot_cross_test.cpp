#include "dxHisto.h"
#include "plot_interaction_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace plottest;

namespace {

// The pixel a not-XOR pen of colour `pen` leaves on `under`.
QRgb NotXor(QRgb under, QRgb pen)
{
    return 0xFF000000u | (~(under ^ pen) & 0x00FFFFFFu);
}

// `img` must equal `clean` except for a cross at (px, py): a horizontal line across the plot
// and a vertical one down it, each only strictly inside the gaps; where they meet the pixel is
// inverted twice.
void ExpectCross(const QImage& img, const QImage& clean, const TDXHistographInt& h, int px, int py,
                 QRgb pen)
{
    const int l = h.GapLeft(), t = h.GapTop(), r = h.width() - h.GapRight(),
              b = h.height() - h.GapBottom();
    const bool hor = t < py && py < b, ver = l < px && px < r;
    int wrong = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const bool onH = hor && y == py && x >= l && x < r;
            const bool onV = ver && x == px && y >= t && y < b;
            const QRgb c = clean.pixel(x, y);
            const QRgb want = onH != onV ? NotXor(c, pen) : c;
            wrong += img.pixel(x, y) != want;
        }
    EXPECT_EQ(wrong, 0) << "cross at " << px << "," << py;
}

// 300 x 200, plot (50, 20) .. (270, 160), 220 x 140: one unit per pixel row over 0 .. 140,
// sample i at X = i - 1 on pixel column 50 + X.
void SmallPlot(TDXHistographInt& h)
{
    Layout(h, 300, 200, 50, 20, 30, 40);
    SetY(h, 0, 140);
    SetX(h, 0, 220);
}

} // namespace

// Property: over random views, sizes and data, on linear and logarithmic axes, the cross reports
// the sample nearest the pointer in X of whichever series lies nearest in Y at that sample.
TEST(PlotCross, SnapsToTheNearestSampleOfTheNearestSeriesOnRandomViews)
{
    int checked = 0, skipped = 0;
    for (int trial = 0; trial < 48; ++trial) {
        std::mt19937 rng(trial);
        auto u = [&](double a, double b) {
            return std::uniform_real_distribution<double>(a, b)(rng);
        };
        auto ui = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
        const bool logX = trial % 2, logY = (trial / 2) % 2;
        TDXHistographInt h;
        const int w = ui(200, 900), ht = ui(150, 400);
        const int gl = ui(0, 80), gt = ui(0, 40), gr = ui(0, 60), gb = ui(0, 40);
        Layout(h, w, ht, gl, gt, gr, gb);
        h.setGridScale(logX ? (logY ? sclLogLog : sclLogLin) : (logY ? sclLinLog : sclLinLin));
        float nmin, nmax, cmin, cmax, ymin, ymax;
        if (logX) {
            nmin = float(u(0.5, 100));
            nmax = float(nmin * u(2, 1000));
            cmin = float(nmin * u(0.5, 3));
            cmax = float(cmin * u(1.5, 50));
        } else {
            nmin = float(u(-1000, 1000));
            const double span = u(1, 5000);
            nmax = float(nmin + span);
            cmin = float(nmin + u(-0.2, 0.8) * span);
            cmax = float(cmin + u(0.05, 0.6) * span);
        }
        if (logY) {
            ymin = float(u(0.01, 1));
            ymax = float(ymin * u(10, 1e4));
        } else {
            ymin = float(u(-200, 0));
            ymax = float(ymin + u(1, 200));
        }
        SetX(h, nmin, nmax);
        h.setViewXCurrentMin(cmin);
        h.setViewXCurrentMax(cmax);
        SetY(h, ymin, ymax);
        h.setSeriesNumber(2);
        std::vector<float> data[2];
        for (int s = 0; s < 2; ++s) {
            data[s] = Noise(ui(2, 3000), 100 * trial + s, ymin, ymax);
            h.SetSeriesData(data[s].data(), int(data[s].size()), s + 1);
        }
        h.RenderNow();
        std::vector<CrossEvent> events;
        Record(h, events);

        // The pointer's values by the axis rules.
        const int l = gl, r = w - gr, t = gt, b = ht - gb;
        const LogMap mx = MapLog(cmin, cmax, l, r), my = MapLog(ymin, ymax, b, t + 1, 1);
        for (int k = 0; k < 30; ++k) {
            const int px = ui(l, r), py = ui(t, b);
            const double x =
                logX ? mx.Value(px) : cmin + (double(cmax) - cmin) * (px - l) / (r - l);
            const double ty =
                logY ? my.Value(py) : ymin + (double(ymax) - ymin) * (ht - py - gb) / (b - t);
            int index[2];
            bool tie = false;
            for (int s = 0; s < 2; ++s) {
                // Samples lie evenly from nmin to nmax: the nearest is the rounded position,
                // the first or last one beyond them.
                const int n = int(data[s].size());
                const double q = (x - nmin) * (n - 1) / (double(nmax) - nmin);
                index[s] = int(std::clamp(std::round(q), 0.0, n - 1.0)) + 1;
                tie |= std::fabs(q - std::floor(q) - 0.5) < 1e-3;
            }
            const double d0 = std::fabs(data[0][index[0] - 1] - ty);
            const double d1 = std::fabs(data[1][index[1] - 1] - ty);
            tie |= std::fabs(d0 - d1) < 1e-4 * (double(ymax) - ymin);
            if (tie) {
                ++skipped;
                continue;
            }
            const int serie = d1 < d0 ? 2 : 1;
            const int n = int(data[serie - 1].size());
            const double sampleX = nmin + (double(nmax) - nmin) * (index[serie - 1] - 1) / (n - 1);
            events.clear();
            Move(h, px, py);
            ASSERT_EQ(events.size(), 1u) << "trial " << trial;
            const CrossEvent& e = events.back();
            EXPECT_EQ(e.Serie, serie) << "trial " << trial << " at " << px << "," << py;
            EXPECT_EQ(e.Index, index[serie - 1]) << "trial " << trial << " at " << px;
            EXPECT_NEAR(e.X, sampleX, 1e-5 * (std::fabs(sampleX) + nmax - nmin)) << trial;
            EXPECT_EQ(e.Y, data[serie - 1][index[serie - 1] - 1]) << "trial " << trial;
            ++checked;
        }
    }
    EXPECT_GT(checked, 1300);
    EXPECT_LT(skipped, checked / 20);
}

// A cross follows the pointer with the inverting pen; leaving the plot rectangle or the widget
// restores the surface bit for bit.
TEST(PlotCross, CrossIsDrawnWithTheInvertingPenAndErasedBitForBit)
{
    TDXHistograph h;
    MainWindowPlot(h);
    h.setGapRight(40);
    auto data = Noise(4096, 7, -120, -20);
    h.SetSeriesData(data.data(), 4096, 1);
    h.show();
    QApplication::processEvents();
    h.RenderNow();
    const QImage clean = h.Surface().copy();
    std::vector<CrossEvent> events;
    Record(h, events);
    const QRgb green = qRgb(0, 198, 0);
    // The cross's pixels by the linear rule: plot (60, 10) .. (805, 228), -140 .. 0.1 over 0 ..
    // 40000, a level one row below its truncated place.
    const auto px = [](float x) { return int(std::trunc(x * 745 / 40000.0 + 60)); };
    const auto py = [](float y) { return int(std::trunc((-140.0 - y) * 218 / 140.1 + 228)) + 1; };
    for (auto [x, y] : {std::pair{400, 100}, std::pair{401, 100}, std::pair{700, 200}}) {
        Move(h, x, y);
        ASSERT_FALSE(events.empty());
        ExpectCross(h.Surface(), clean, h, px(events.back().X), py(events.back().Y), green);
    }
    EXPECT_EQ(events.size(), 3u);
    // Leaving the plot rectangle (one pixel left of it) erases; so does leaving the widget.
    Move(h, h.GapLeft() - 1, 100);
    EXPECT_TRUE(h.Surface() == clean);
    EXPECT_FALSE(h.CrossSlot(TDXHistographInt::MeasureSlot).Drawn);
    Move(h, 500, 50);
    EXPECT_FALSE(h.Surface() == clean);
    Leave(h);
    EXPECT_TRUE(h.Surface() == clean);
    EXPECT_EQ(events.size(), 4u);
}

// The rectangle's border counts as inside; a line lying on a gap boundary is not drawn; a
// pointer beyond the first or last sample snaps to it; one sample is always the one.
TEST(PlotCross, BorderAndGapBoundaryRules)
{
    TDXHistographInt h;
    SmallPlot(h);
    std::vector<float> d(221, 70.0f);
    d.front() = 141; // maps to the top gap row 20
    d.back() = 1;    // maps to the bottom gap row 160
    d[110] = 2;      // maps to row 159, just inside
    h.SetSeriesData(d.data(), 221, 1);
    h.RenderNow();
    const QImage clean = h.Surface().copy();
    std::vector<CrossEvent> events;
    Record(h, events);

    for (auto [x, y] :
         {std::pair{50, 20}, std::pair{270, 160}, std::pair{50, 160}, std::pair{270, 20}}) {
        Move(h, x, y);
        ASSERT_EQ(events.size(), 1u) << x << "," << y;
        // Corners snap to the end samples, whose lines lie on the gap boundaries.
        EXPECT_EQ(events.back().Index, x == 50 ? 1 : 221);
        EXPECT_TRUE(h.Surface() == clean) << x << "," << y;
        events.clear();
    }
    for (auto [x, y] :
         {std::pair{49, 100}, std::pair{100, 19}, std::pair{271, 100}, std::pair{100, 161}}) {
        Move(h, x, y);
        EXPECT_TRUE(events.empty()) << x << "," << y;
    }
    Move(h, 160, 100);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.back().Index, 111);
    ExpectCross(h.Surface(), clean, h, 160, 159, qRgb(0, 0, 0) | 0xFF000000u);

    // A single sample: any column snaps to it, at the nominal minimum.
    float one = 30;
    h.SetSeriesData(&one, 1, 1);
    events.clear();
    for (int x : {50, 160, 270}) {
        Move(h, x, 60);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().Index, 1);
        EXPECT_EQ(events.back().X, 0.0f);
        EXPECT_EQ(events.back().Y, 30.0f);
    }
}

// (X, Y) pairs compete on the distance in value units with every pair of every such series, an
// equidistant series on its vertical distance at the snapped sample; on equal distances the
// pair found first stays.
TEST(PlotCross, PairSeriesSnapToThePairNearestInValueUnits)
{
    TDXHistographInt h;
    SmallPlot(h); // pointer (px, py) reads X = px - 50, Y = 160 - py
    h.setSeriesNumber(3);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> u(0, 140);
    std::vector<float> pairs[2];
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 40; ++k)
            pairs[s].insert(pairs[s].end(), {float(u(rng)) + 40, float(u(rng))});
        h.SetSeriesDataXY(pairs[s].data(), 40, s + 1);
    }
    // Ties at (120, 70): pair 3 of series 1 equals pair 5 of series 2, pair 7 of series 1
    // mirrors it.
    pairs[1][8] = pairs[0][4] = 120, pairs[1][9] = pairs[0][5] = 71;
    pairs[0][12] = 120, pairs[0][13] = 69;
    h.SetSeriesDataXY(pairs[0].data(), 40, 1);
    h.SetSeriesDataXY(pairs[1].data(), 40, 2);
    std::vector<float> flat(221, 500.0f); // far above every pointer: never the nearest
    h.SetSeriesData(flat.data(), 221, 3);
    h.RenderNow();
    std::vector<CrossEvent> events;
    Record(h, events);
    int checked = 0;
    for (int py = 21; py < 160; py += 3)
        for (int px = 51; px < 270; px += 7) {
            const double tx = px - 50, ty = 160 - py;
            double best = 1e300;
            int serie = 0, index = 0;
            for (int s = 0; s < 2; ++s)
                for (int k = 0; k < 40; ++k) {
                    const double dx = pairs[s][2 * k] - tx, dy = pairs[s][2 * k + 1] - ty;
                    if (dx * dx + dy * dy < best)
                        best = dx * dx + dy * dy, serie = s + 1, index = k + 1;
                }
            events.clear();
            Move(h, px, py);
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events.back().Serie, serie) << px << "," << py;
            EXPECT_EQ(events.back().Index, index) << px << "," << py;
            EXPECT_EQ(events.back().X, pairs[serie - 1][2 * index - 2]);
            EXPECT_EQ(events.back().Y, pairs[serie - 1][2 * index - 1]);
            ++checked;
        }
    EXPECT_GT(checked, 1000);
    Move(h, 170, 90);
    EXPECT_EQ(events.back().Serie, 1);
    EXPECT_EQ(events.back().Index, 3);
    // An equidistant series nearer in Y than the nearest pair wins.
    std::fill(flat.begin(), flat.end(), 70.5f);
    Move(h, 170, 90);
    EXPECT_EQ(events.back().Serie, 3);
}
