#include "SpektroNeuLegend.h"

#include <QApplication>
#include <QFontMetrics>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// The palette by its table: black through blue, cyan, green and yellow to red.
QRgb PaletteEntry(int P)
{
    int r = 0, g = 0, b = 0;
    if (P < 256)
        b = P;
    else if (P < 512)
        g = P - 256, b = 255;
    else if (P < 768)
        g = 255, b = 767 - P;
    else if (P < 1024)
        r = P - 768, g = 255;
    else
        r = 255, g = 1279 - P;
    return qRgb(r, g, b);
}

// As the waterfall colours a level: rounded half to even, then the nearest of 1280 entries.
QRgb Colour(double Level, double ZMin, double ZMax)
{
    const long double level = std::nearbyint(Level);
    const long double p = std::nearbyint((level - ZMin) * (1279.0L / (ZMax - ZMin)));
    return PaletteEntry(static_cast<int>(std::clamp<long double>(p, 0, 1279)));
}

struct Legend : ::testing::Test
{
    TSpektroLegend L;
    QFontMetrics Metrics{L.LabelFont()};
    int Caption = Metrics.height();

    Legend()
    {
        L.resize(L.NeededWidth(), Caption + 201);
        L.show();
    }
    // Whether the text column beside the tick at Row has ink.
    bool TextNear(int Row) const
    {
        const QImage p = L.Picture();
        const QRgb bg = QApplication::palette().color(QPalette::Window).rgb();
        for (int y = std::max(Row - 5, 0); y < std::min(Row + 6, p.height()); ++y)
            for (int x = TSpektroLegend::BarWidth + 4; x < p.width(); ++x)
                if (p.pixel(x, y) != bg)
                    return true;
        return false;
    }
};

} // namespace

TEST_F(Legend, BarShowsThePaletteFromTheLowerToTheUpperLevel)
{
    for (const auto& [zmin, zmax] :
         {std::pair{-120.0, -80.0}, std::pair{-140.0, 0.0}, std::pair{-60.0, -20.0}}) {
        L.SetScale(float(zmin), float(zmax), 0);
        const QImage p = L.Picture();
        const int rows = p.height() - Caption;
        ASSERT_EQ(rows, 201);
        for (int row = 0; row < rows; ++row) {
            // Top row the upper level, bottom row the lower, evenly between.
            const double level = zmax - (zmax - zmin) * row / (rows - 1);
            const QRgb want = Colour(level, zmin, zmax);
            for (int x = 0; x < TSpektroLegend::BarWidth; ++x)
                ASSERT_EQ(p.pixel(x, Caption + row), want)
                    << zmin << ".." << zmax << " row " << row;
        }
        EXPECT_EQ(p.pixel(0, Caption), 0xffff0000u);
        EXPECT_EQ(p.pixel(0, p.height() - 1), 0xff000000u);
    }
}

TEST_F(Legend, LabelsShowTheBarsValuesWithTheOffsetAndRoundStepsBetween)
{
    const int spacing = int(Metrics.height() * 2.5), ends = Metrics.height() * 2;
    for (const auto& [zmin, zmax, offset] :
         {std::tuple{-120.0f, -80.0f, 0.0f}, std::tuple{-120.0f, -80.0f, 3.5f},
          std::tuple{-140.0f, 0.0f, -10.0f}, std::tuple{-60.0f, 80.0f, 0.0f}}) {
        SCOPED_TRACE(testing::Message() << zmin << ".." << zmax << " +" << offset);
        L.SetScale(zmin, zmax, offset);
        const int rows = 201;
        const double rowsPerDb = (rows - 1) / double(zmax - zmin);
        double step = 0;
        for (double s : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0})
            if (step == 0 && s * rowsPerDb >= spacing)
                step = s;
        std::vector<std::pair<QString, int>> want;
        want.push_back({QString::asprintf("%0.0f", double(zmax) + offset), Caption});
        for (double shown = std::floor((zmax + offset) / step) * step; shown > zmin + offset;
             shown -= step) {
            const int row = int(std::lround((zmax + offset - shown) * rowsPerDb));
            if (row >= ends && rows - 1 - row >= ends)
                want.push_back({QString::asprintf("%0.0f", shown), Caption + row});
        }
        want.push_back({QString::asprintf("%0.0f", double(zmin) + offset), Caption + rows - 1});
        std::vector<std::pair<QString, int>> got;
        for (const auto& tick : L.Ticks())
            got.push_back({TSpektroLegend::LabelText(tick.Shown), tick.Row});
        EXPECT_EQ(got, want);
        EXPECT_GE(want.size(), 4u);

        // Each label has its tick beside the bar and its text beside the tick.
        const QImage p = L.Picture();
        const QRgb text = QApplication::palette().color(QPalette::WindowText).rgb();
        for (const auto& [label, row] : want) {
            const int y = std::min(row, p.height() - 1);
            for (int x = TSpektroLegend::BarWidth; x < TSpektroLegend::BarWidth + 3; ++x)
                EXPECT_EQ(p.pixel(x, y), text) << label.toStdString();
            EXPECT_NE(p.pixel(TSpektroLegend::BarWidth + 3, y), text) << label.toStdString();
            EXPECT_TRUE(TextNear(row)) << label.toStdString();
        }
    }
    // The bars' values as the hints show them: "%0.0f", halves to even.
    L.SetScale(-120.0f, -80.0f, 0.5f);
    EXPECT_EQ(TSpektroLegend::LabelText(L.Ticks().front().Shown), "-80");
    EXPECT_EQ(TSpektroLegend::LabelText(L.Ticks().back().Shown), "-120");
}

// A wide offset needs wider labels: the width grows and stays.
TEST_F(Legend, WidthGrowsForWiderLabelsOnly)
{
    const int first = L.NeededWidth();
    EXPECT_GE(first, TSpektroLegend::BarWidth + 5 + Metrics.horizontalAdvance("-140"));
    L.SetScale(-140, 0, -1000);
    EXPECT_GE(L.NeededWidth(), TSpektroLegend::BarWidth + 5 + Metrics.horizontalAdvance("-1140"));
    const int wide = L.NeededWidth();
    L.SetScale(-140, 0, 0);
    EXPECT_EQ(L.NeededWidth(), wide);
    EXPECT_GT(wide, first);
}
