#include "RowJumps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

using namespace quillex;

namespace {

TRowState LiveRow(double Time, double Period)
{
    TRowState row;
    row.Time = Time;
    row.FramePeriod = Period;
    row.SpanKHz = 40000;
    row.CentreKHz = 20000;
    row.FftSize = 2048;
    row.Window = 1;
    return row;
}

TRowState FileRow(std::int64_t File, std::int64_t Record, double Time = 0)
{
    TRowState row = LiveRow(Time, 0.01);
    row.Source = TRowSource::File;
    row.FileId = File;
    row.Record = Record;
    return row;
}

std::string Label(const TRowState& Before, const TRowState& After)
{
    return JumpLabel(FindJump(Before, After));
}

} // namespace

// Live rows further apart than max(3 periods of the faster pacing, 0.5 s) make a gap.
TEST(RowJumps, TimeSourcesAndFiles)
{
    const double period = 0.25; // binary fractions: the boundaries are exact
    EXPECT_EQ(Label(LiveRow(10, period), LiveRow(10.75, period)), "");
    const TJump gap = FindJump(LiveRow(10, period), LiveRow(10.750001, period));
    EXPECT_EQ(gap.Reasons, unsigned(JumpGap));
    EXPECT_NEAR(gap.GapSeconds, 0.75, 1e-5);
    for (const auto& [from, to, pace, label] :
         {std::tuple{10.0, 20.0, 0.01, "gap 10 s"},
          std::tuple{0.0, 0.15, 0.02, ""}, // a hiccup of a fast pacing
          std::tuple{0.0, 0.5, 0.02, ""}, std::tuple{0.0, 0.5000001, 0.02, "gap 500 ms"},
          std::tuple{0.0, 7.0, 0.0, "gap 7.0 s"}, // no period known yet
          std::tuple{0.0, 0.4, 0.0, ""}, std::tuple{0.0, 150.0, 60.0, ""},
          std::tuple{3600.0, 0.0, 0.01, "clock"}, std::tuple{3600.0, 3599.6, 0.01, ""}})
        EXPECT_EQ(Label(LiveRow(from, pace), LiveRow(to, pace)), label) << from << " " << to;
    // A change of pacing does not hide a pause: the faster pacing counts.
    EXPECT_EQ(Label(LiveRow(0, 0.01), LiveRow(100, 60)), "gap 100 s");
    EXPECT_EQ(Label(LiveRow(0, 60), LiveRow(100, 0.01)), "gap 100 s");
    EXPECT_EQ(Label(LiveRow(5, 0.01), FileRow(1, 1, 1e6)), "file");
    EXPECT_EQ(Label(FileRow(1, 40), LiveRow(5, 0.01)), "live");
    EXPECT_EQ(Label(FileRow(1, 40), FileRow(1, 41)), ""); // the next record
    EXPECT_EQ(Label(FileRow(1, 40), FileRow(1, 42)), "seek");
    EXPECT_EQ(Label(FileRow(1, 999), FileRow(1, 1)), "seek"); // played again from the start
    EXPECT_EQ(Label(FileRow(1, 40), FileRow(2, 41)), "file");
}

// Each part of the frequency mapping has its word; several at one row make one label in a
// fixed order.
TEST(RowJumps, EachChangeOfTheMappingNamesItself)
{
    const TRowState before = LiveRow(0, 0.01);
    const std::pair<void (*)(TRowState&), std::string> changes[] = {
        {[](TRowState& r) { r.SpanKHz = 5000; }, "span"},
        {[](TRowState& r) { r.CentreKHz = 7100; }, "centre"},
        {[](TRowState& r) { r.FftSize = 4096; }, "FFT"},
        {[](TRowState& r) { r.Window = 3; }, "window"},
        {[](TRowState& r) { r.Averaging = 8; }, "averaging"},
        {[](TRowState& r) { r.FreqOffset = 0.5; }, "offset"},
        {[](TRowState& r) { r.LevelOffset = -3; }, "offset"},
        {[](TRowState& r) { r.Inverted = true; }, "mirror"},
    };
    for (const auto& [change, word] : changes) {
        TRowState after = LiveRow(0.01, 0.01);
        change(after);
        EXPECT_EQ(Label(before, after), word);
    }
    TRowState after = LiveRow(12, 0.01);
    after.FftSize = 512;
    after.SpanKHz = 10000;
    after.CentreKHz = 15000;
    after.Inverted = true;
    EXPECT_EQ(Label(before, after), "gap 12 s, span, centre, FFT, mirror");
    after.Source = TRowSource::File;
    EXPECT_EQ(Label(before, after), "file, span, centre, FFT, mirror");
}

// Each unit up to where its rounded text would reach the next unit's: at the boundaries that
// are exact in binary, 119.5 s and 119.5 min, the next unit already.
TEST(RowJumps, GapTextsStayShort)
{
    const auto text = [](const char* Format, double V) {
        char s[32];
        std::snprintf(s, sizeof s, Format, V);
        return std::string(s);
    };
    // Half minutes and half hours (150 s, 9000 s) round exactly as the unit's text does.
    for (double s : {0.25, 0.9994, 0.9996, 2.5, 9.94, 9.96, 59.4, 119.49, 119.5, 150.0, 300.0,
                     7169.9, 7170.0, 9000.0, 9001.0, 1e6}) {
        // The next unit's text, and the number at which a unit's text goes over to it.
        const std::pair<std::string, double> units[] = {{text("%.1f s", s), 1000},
                                                        {text("%.0f s", s), 10},
                                                        {text("%.0f min", s / 60), 120},
                                                        {text("%.0f h", s / 3600), 120}};
        std::string want = text("%.0f ms", s * 1000);
        for (size_t u = 0; u < std::size(units) && std::stod(want) >= units[u].second; ++u)
            want = units[u].first;
        EXPECT_EQ(GapText(s), want) << s;
    }
}
