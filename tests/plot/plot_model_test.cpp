#include "dxHisto.h"

#include <gtest/gtest.h>

#include <climits>
#include <tuple>
#include <vector>

// Published properties are reachable by name, as a stored layout sets them; the "Series" list
// of (colour, pen, kind) triples round-trips and ignores triples beyond 16.
TEST(PlotModel, PropertiesByNameAndStoredSeriesList)
{
    TDXHistograph h;
    EXPECT_TRUE(h.setProperty("ViewYMin", -140.0f));
    EXPECT_EQ(h.ViewYMin(), -140.0f);
    EXPECT_TRUE(h.setProperty("GridVisible", QVariant::fromValue(grdBoth)));
    EXPECT_EQ(h.GridVisible(), grdBoth);
    EXPECT_TRUE(h.setProperty("Series", QVariant::fromValue(QList<int>{50688, 0, 0})));
    EXPECT_EQ(h.Series(), (QList<int>{50688, 0, 0}));

    QList<int> many;
    for (int i = 0; i < 20; ++i)
        many << i << (i % 5) << (i % 4);
    h.setSeries(many);
    h.setSeriesNumber(16);
    const QList<int> back = h.Series();
    ASSERT_EQ(back.size(), 48);
    EXPECT_EQ(back, many.mid(0, 48));
    EXPECT_EQ(h.SeriesRecord(16).LineColor, 15);
    h.setSeriesCurrent(16); // the current series' getters read that series
    EXPECT_TRUE(h.SeriesColor() == 15 && h.SeriesLineStyle() == TPenStyle(15 % 5) &&
                h.SeriesStyle() == TDXDataKind(15 % 4));
    // Ordinals outside the enumerations are not stored.
    h.setSeries({1, 42, -3});
    EXPECT_EQ(h.SeriesRecord(1).PenStyle, psSolid);
    EXPECT_EQ(h.SeriesRecord(1).Kind, dtData);
}

TEST(PlotModel, SettersRepaintOnlyOnChangeIgnoreInvalidValuesAndMissingSeries)
{
    TDXHistographInt h;
    h.RenderNow();
    ASSERT_FALSE(h.RepaintPending());
    int gridChanges = 0;
    h.OnGridVisibleChange = [&](QObject*) { ++gridChanges; };
    h.setGridVisible(h.GridVisible());
    h.setGridColor(clGray);
    h.setGapLeft(70);
    h.setViewYMax(10);
    h.setTitleTop(QString());
    h.setViewYGap(0);
    h.setViewXGap(0);
    EXPECT_FALSE(h.RepaintPending());
    EXPECT_EQ(h.ViewYGap(), 2.0f);
    EXPECT_EQ(gridChanges, 0);
    // Each ranged property takes both ends of its range and keeps its value (without a
    // repaint) for the values just outside.
    using Set = void (TDXHistographInt::*)(int);
    using Get = int (TDXHistographInt::*)() const;
    const std::tuple<Set, Get, int, int> ranged[] = {
        {&TDXHistographInt::setSeriesNumber, &TDXHistographInt::SeriesNumber, 1, 16},
        {&TDXHistographInt::setSeriesCurrent, &TDXHistographInt::SeriesCurrent, 1, 16},
        {&TDXHistographInt::setReferenceRubberWidth, &TDXHistographInt::ReferenceRubberWidth, 1,
         INT_MAX}};
    for (const auto& [set, get, low, high] : ranged)
        for (const int end : {low, high, low}) {
            (h.*set)(end);
            EXPECT_EQ((h.*get)(), end);
            h.RenderNow();
            (h.*set)(low - 1);
            (h.*set)(high == INT_MAX ? INT_MIN : high + 1);
            EXPECT_EQ((h.*get)(), end);
            EXPECT_FALSE(h.RepaintPending());
        }
    h.setSeriesNumber(1);
    h.setSeriesCurrent(1);
    h.RenderNow();
    h.setGapLeft(50);
    EXPECT_TRUE(h.RepaintPending());
    h.setGridVisible(grdHor);
    EXPECT_EQ(gridChanges, 1);

    // Current-series properties address only existing series.
    h.setSeriesNumber(2);
    h.setSeriesCurrent(2);
    h.setSeriesColor(clRed);
    h.setSeriesLineStyle(psDot);
    EXPECT_EQ(h.SeriesRecord(2).LineColor, clRed);
    EXPECT_EQ(h.SeriesRecord(2).PenStyle, psDot);
    h.setSeriesCurrent(3);
    EXPECT_EQ(h.SeriesColor(), 0);
    EXPECT_EQ(h.SeriesLineStyle(), psSolid); // series 1's
    h.setSeriesColor(clWhite);
    EXPECT_EQ(h.SeriesRecord(3).LineColor, clBlack);
}

TEST(PlotModel, DataSeriesReferencesReferenceSeriesCopyAndMinMaxCoversAll)
{
    TDXHistographInt h;
    h.setSeriesNumber(2);
    float lo = 1, hi = 1;
    h.GetSeriesMinMax(1, lo, hi);
    EXPECT_TRUE(lo == 0.0f && hi == 0.0f) << "empty series";
    std::vector<float> a = {1, -7, 12};
    h.SetSeriesData(a.data(), 3, 1);
    EXPECT_EQ(h.SeriesRecord(1).Data, a.data());
    EXPECT_FALSE(h.SeriesRecord(1).Owned);
    h.GetSeriesMinMax(1, lo, hi);
    EXPECT_TRUE(lo == -7.0f && hi == 12.0f) << lo << " " << hi;
    // A count without an array: nothing is read.
    h.SetSeriesData(nullptr, 3, 1);
    h.GetSeriesMinMax(1, lo, hi);
    EXPECT_TRUE(lo == 0.0f && hi == 0.0f) << lo << " " << hi;

    h.setSeriesCurrent(2);
    h.setSeriesStyle(dtUpperRef);
    h.SetSeriesData(a.data(), 3, 2);
    const auto& ref = h.SeriesRecord(2);
    ASSERT_TRUE(ref.Owned);
    a[0] = 99; // a copy does not follow the caller's array
    EXPECT_EQ(ref.Data[0], 1.0f);
    h.SetSeriesData(a.data(), 0, 2);
    EXPECT_EQ(h.SeriesRecord(2).Data, nullptr);
    EXPECT_EQ(h.SeriesRecord(2).Count, 0);

    // Series 3 does not exist while SeriesNumber is 2.
    h.SetSeriesData(a.data(), 3, 3);
    EXPECT_EQ(h.SeriesRecord(3).Data, nullptr);
}

TEST(PlotModel, PairDataIsCopiedKindChangesNeverReadPastItAndPointBufferIsCapped)
{
    TDXHistographInt h;
    std::vector<float> xy = {0, 1, 5, 2, 10, 3};
    h.SetSeriesDataXY(xy.data(), 3, 1);
    EXPECT_EQ(h.SeriesRecord(1).Kind, dtDataXY);
    EXPECT_EQ(h.SeriesRecord(1).Count, 3);
    float lo, hi;
    h.GetSeriesMinMax(1, lo, hi);
    EXPECT_TRUE(lo == 1.0f && hi == 3.0f) << lo << " " << hi;
    // Pairs for series that do not exist change nothing.
    for (int series : {0, 2, 17})
        h.SetSeriesDataXY(xy.data(), 1, series);
    EXPECT_EQ(h.SeriesRecord(1).Count, 3);
    EXPECT_EQ(h.SeriesRecord(2).Data, nullptr);
    // A plain array under a dtDataXY kind holds no pairs: it is not read as pairs.
    std::vector<float> plain = {4, 5};
    h.setSeriesStyle(dtData);
    h.SetSeriesData(plain.data(), 2, 1);
    h.setSeriesStyle(dtDataXY);
    h.GetSeriesMinMax(1, lo, hi);
    EXPECT_TRUE(lo == 0.0f && hi == 0.0f) << lo << " " << hi;
    h.RenderNow();

    // The point buffer grows to the longest series, capped, and never shrinks.
    h.setSeriesStyle(dtData);
    h.setSeriesNumber(3);
    std::vector<float> a(100), b(20000), c(5);
    h.SetSeriesData(a.data(), 100, 1);
    EXPECT_EQ(h.PointBufferCapacity(), 100);
    h.SetSeriesData(b.data(), 20000, 2);
    h.SetSeriesData(c.data(), 5, 3);
    EXPECT_EQ(h.PointBufferCapacity(), 16384);
    h.SetSeriesData(b.data(), 8000, 2);
    EXPECT_EQ(h.PointBufferCapacity(), 16384);
}
