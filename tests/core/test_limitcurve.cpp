#include "LimitCurve.h"
#include "LimitFile.h"
#include "test_file_support.h"
#include "test_limit_support.h"

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace quillex;

namespace {

// 10 MHz -50, 12 MHz -40, 14 MHz no limit, 16 MHz -30, 18 MHz -20, and what it says at f,
// written out from the rule.
TLimitCurve Stepped()
{
    return TLimitCurve({{10, -50}, {12, -40}, {14, None}, {16, -30}, {18, -20}});
}
double SteppedLevel(double f)
{
    if (f <= 10)
        return -50;
    if (f <= 12)
        return -50 + 10 * (f - 10) / 2;
    if (f < 16)
        return None;
    return f <= 18 ? -30 + 10 * (f - 16) / 2 : -20;
}

// The displayed frequency of displayed bin d, written out from the axis rule.
double BinMHz(int d, int n, double offsetMHz)
{
    return offsetMHz + d * 40.0 / n;
}

void ExpectLevel(double expected, double actual, const std::string& where, double tol = 1e-9)
{
    if (std::isnan(expected))
        EXPECT_TRUE(std::isnan(actual)) << where << ": " << actual;
    else
        EXPECT_NEAR(actual, expected, tol) << where;
}

// The curve resampled onto the grid matches Expected, bin for bin.
void ExpectResampled(const TLimitCurve& curve, const TLimitGrid& grid,
                     const std::vector<float>& expected)
{
    std::vector<float> out(grid.N);
    ResampleCurve(curve, grid, out.data());
    for (int d = 0; d < grid.N; ++d)
        ExpectLevel(expected[d], out[d], "bin " + std::to_string(d), 1e-4);
}

} // namespace

TEST(LimitCurve, LinearBetweenPointsFlatBeyondTheEndsNoneAcrossAGap)
{
    const TLimitCurve curve = Stepped();
    for (double f = -5; f <= 25; f += 0.125)
        ExpectLevel(SteppedLevel(f), curve.LevelAt(f), "at " + std::to_string(f) + " MHz");
    // Just short of a point after a gap.
    ExpectLevel(None, curve.LevelAt(15.999), "before 16 MHz");

    // An end point without a level sets none beyond it.
    const TLimitCurve open({{5, None}, {6, -10}, {7, -20}, {8, None}});
    const std::pair<double, double> cases[] = {{1, None}, {6.5, -15}, {7.5, None}, {30, None}};
    for (const auto& [f, level] : cases)
        ExpectLevel(level, open.LevelAt(f), "open curve at " + std::to_string(f));

    EXPECT_TRUE(TLimitCurve().Empty());
    EXPECT_TRUE(std::isnan(TLimitCurve().LevelAt(3)));
    EXPECT_TRUE(TLimitCurve({{1, None}, {2, None}}).Empty());
    EXPECT_FALSE(curve.Empty());
    ExpectLevel(-60, FlatCurve(-60).LevelAt(-1000), "flat, far below");
    ExpectLevel(-60, FlatCurve(-60).LevelAt(1e6), "flat, far above");
}

TEST(LimitCurve, RefusesPointsThatDoNotRiseOrAreNotNumbers)
{
    for (const std::vector<TLimitPoint>& points : {std::vector<TLimitPoint>{{2, -1}, {1, -1}},
                                                   {{2, -1}, {2, -3}},
                                                   {{None, -1}},
                                                   {{1, std::numeric_limits<double>::infinity()}}})
        EXPECT_THROW(TLimitCurve{points}, std::invalid_argument) << points[0].MHz;
}

TEST(LimitCurve, ResamplesOntoEveryDisplayedBinOnThePlotsScale)
{
    // The mirroring does not enter: the plot's bins rise in displayed frequency either way.
    for (const bool inverted : {false, true}) {
        std::vector<float> expected(256);
        for (int d = 0; d < 256; ++d)
            expected[d] = float(SteppedLevel(BinMHz(d, 256, 3.5)) - 12.0);
        ExpectResampled(Stepped(), {256, 3.5, 12.0, inverted}, expected);
    }
}

TEST(LimitCurve, FromTraceIsTheTracePlusOffsetsAtItsBins)
{
    const TLimitGrid grid{512, -1.25, 7.0, true};
    std::vector<float> levels(100);
    for (int i = 0; i < 100; ++i)
        levels[i] = -90.0f + 0.25f * float(i % 17);
    levels[40] = -std::numeric_limits<float>::infinity();
    levels[41] = std::numeric_limits<float>::quiet_NaN();
    const TLimitCurve curve = CurveFromTrace(grid, levels.data(), 200, 100, 6.0);
    ASSERT_EQ(curve.Points().size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_DOUBLE_EQ(curve.Points()[i].MHz, BinMHz(200 + i, 512, -1.25));
        ExpectLevel(i == 40 || i == 41 ? None : double(levels[i]) + 7.0 + 6.0,
                    curve.Points()[i].Dbm, "point " + std::to_string(i));
    }
}

// A bend as the plot makes one: a bell of Height dB around bin Centre, Width bins wide.
std::vector<float> Bent(const std::vector<float>& before, int centre, int width, float height)
{
    std::vector<float> after = before;
    for (int i = 0; i < width; ++i) {
        const int d = centre - width / 2 + i;
        const double t = i - width / 2.0;
        if (d >= 0 && d < int(after.size()))
            after[d] += height * float(std::exp(-12 * t * t / (width * width)));
    }
    return after;
}

TEST(LimitCurve, ABendIsWrittenBackAndStaysPutWhenTheGridChanges)
{
    const TLimitGrid grid{1024, 2.0, -3.0, false};
    std::vector<float> before(1024);
    ResampleCurve(Stepped(), grid, before.data());
    // Bins 210 .. 239 lie between 10.2 and 11.35 MHz, on the rising part.
    const std::vector<float> after = Bent(before, 225, 30, 8.0f);
    const TLimitCurve bent = BendCurve(Stepped(), grid, before.data(), after.data());
    ExpectResampled(bent, grid, after);

    // Four times as many bins, mirrored, and another frequency offset: where the bend's bins
    // were, the bend shows; away from them, the curve as it was.
    const double fineOffset = 2.0 - 10 * 40.0 / 4096;
    std::vector<float> shown(4096);
    ResampleCurve(bent, {4096, fineOffset, -3.0, true}, shown.data());
    for (int e = 0; e < 4096; ++e) {
        const double f = BinMHz(e, 4096, fineOffset);
        if (e >= 10 && (e - 10) % 4 == 0)
            ExpectLevel(after[(e - 10) / 4], shown[e], "fine bin " + std::to_string(e), 1e-4);
        else if (f < BinMHz(209, 1024, 2.0) || f > BinMHz(240, 1024, 2.0))
            ExpectLevel(SteppedLevel(f) + 3.0, shown[e], "fine bin " + std::to_string(e), 1e-4);
    }
}

TEST(LimitCurve, BendsAtTheEdgesOverGapsAndWithoutChange)
{
    const TLimitGrid grid{256, 0.0, 0.0, false};
    const TLimitCurve flat = FlatCurve(-70);
    std::vector<float> before(256);
    ResampleCurve(flat, grid, before.data());
    EXPECT_EQ(BendCurve(flat, grid, before.data(), before.data()), flat);
    // The smallest bend, one bin: it alone takes the new level.
    std::vector<float> one = before;
    one[100] += 4;
    ExpectResampled(BendCurve(flat, grid, before.data(), one.data()), grid, one);

    for (const int centre : {0, 255}) {
        const std::vector<float> after = Bent(before, centre, 30, -5.0f);
        const TLimitCurve bent = BendCurve(flat, grid, before.data(), after.data());
        ExpectResampled(bent, grid, after);
        // Beyond the spectrum the curve still ends flat at its first and last level.
        EXPECT_NEAR(bent.LevelAt(-5), after[0], 1e-4);
        EXPECT_NEAR(bent.LevelAt(45), after[255], 1e-4);
    }

    // Two bumps with an unmoved bin between them: that bin keeps the curve's own level, and
    // the curve's points next to the bend (on a neighbouring bin, between bins) stay.
    const double w = 40.0 / 256;
    const TLimitCurve pointed({{0, -60},
                               {59.5 * w, -61},
                               {60 * w, -62},
                               {60.5 * w, -62.5},
                               {69 * w, -66},
                               {69.25 * w, -67},
                               {200 * w, -80}});
    ResampleCurve(pointed, grid, before.data());
    std::vector<float> twice = before;
    const std::pair<int, float> moves[] = {{61, 1}, {62, 2}, {66, -1}, {67, -2}, {68, -1}};
    for (const auto& [d, dB] : moves)
        twice[d] += dB;
    const TLimitCurve bumped = BendCurve(pointed, grid, before.data(), twice.data());
    for (const double f : {64 * w, 65 * w})
        EXPECT_EQ(bumped.LevelAt(f), pointed.LevelAt(f)) << f;
    for (const TLimitPoint& p : pointed.Points())
        EXPECT_EQ(bumped.LevelAt(p.MHz), p.Dbm) << p.MHz;
    ExpectResampled(bumped, grid, twice);

    // Bins without a limit stay without one; the limit on either side takes the bend.
    const TLimitCurve gapped({{5, -40}, {10, -40}, {10.5, None}, {20, None}, {20.5, -40}});
    ResampleCurve(gapped, grid, before.data());
    const std::vector<float> after = Bent(before, 96, 80, 6.0f);
    ExpectResampled(BendCurve(gapped, grid, before.data(), after.data()), grid, after);
    // A limit drawn into the gap takes; one erased from bins leaves them without.
    std::vector<float> drawn = before;
    std::fill(drawn.begin() + 100, drawn.begin() + 111, -50.0f);
    std::fill(drawn.begin() + 40, drawn.begin() + 46, std::nanf(""));
    ExpectResampled(BendCurve(gapped, grid, before.data(), drawn.data()), grid, drawn);
}

// ---- The limits file ----

using LimitFileTest = TempFileTest;

TEST(LimitFile, ReadsPointsWithEmptyFieldsAsNoLimit)
{
    const TLimits limits = ParseLimits("\xEF\xBB\xBFMHz,upper_dBm,lower_dBm\r\n"
                                       "1.5, -40 ,\r\n"
                                       " \t \r\n"
                                       "2.25,+3e1,-90.5\n"
                                       "7,,-88\n",
                                       "limits.csv");
    const TLimitCurve upper({{1.5, -40}, {2.25, 30}, {7, None}});
    const TLimitCurve lower({{1.5, None}, {2.25, -90.5}, {7, -88}});
    EXPECT_EQ(limits.Upper, upper);
    EXPECT_EQ(limits.Lower, lower);
    // A lower limit over one carrier's bins only: none before 2.25 MHz, flat after 7 MHz.
    EXPECT_TRUE(std::isnan(limits.Lower.LevelAt(2)));
    EXPECT_DOUBLE_EQ(limits.Lower.LevelAt(12), -88);

    const TLimits none = ParseLimits("MHz,upper_dBm,lower_dBm\n", "x");
    EXPECT_TRUE(none.Upper.Empty());
    EXPECT_TRUE(none.Lower.Empty());
}

TEST(LimitFile, NamesTheLineThatDoesNotParse)
{
    const std::string head = "MHz,upper_dBm,lower_dBm\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", "Line 1 of f.csv: "},
        {"MHz;upper_dBm;lower_dBm\n1;2;3\n", "Line 1 of f.csv: "},
        {"\n\nfreq,upper,lower\n", "Line 3 of f.csv: "},
        {head + "1,-40,\n2,-4O,\n", "Line 3 of f.csv: the upper level \"-4O\" is not a number"},
        {head + "1,-40,\nx,-40,\n", "Line 3 of f.csv: the frequency \"x\" is not"},
        {head + "1,-40,\n,-40,\n", "Line 3 of f.csv: "},
        {head + "1,-40,\n3,-40,\n\n2,-40,\n", "Line 5 of f.csv: "},
        {head + "1,-40,\n1,-45,\n", "Line 3 of f.csv: "},
        {head + "1,-40,-50 dB\n", "Line 2 of f.csv: the lower level \"-50 dB\" is not"},
        {head + "1,-1e300,\n", "Line 2 of f.csv: the upper level \"-1e300\" lies outside "
                               "-300..+100 dBm"},
        {head + "1,-40,\n2,,100.001\n", "Line 3 of f.csv: the lower level \"100.001\" lies"},
        {head + "1,-300.001,\n", "Line 2 of f.csv: the upper level \"-300.001\" lies"},
        // Bytes that are not printable are shown as '?'.
        {head + "1,-40,\x1b[2J\xc3\xa9\n", "Line 2 of f.csv: the lower level \"?[2J??\" is not"},
        // A long field is quoted to its first 24 characters.
        {head + "1,-40,-50 dB per MHz above the\n",
         "Line 2 of f.csv: the lower level \"-50 dB per MHz above the\" is not"},
        {head + "1,-40,-50 dB per MHz above the line\n",
         "Line 2 of f.csv: the lower level \"-50 dB per MHz above the...\" is not"},
    };
    std::vector<std::pair<std::string, std::string>> all(std::begin(cases), std::end(cases));
    // Missing or extra fields, and levels that are no decimal number of finite size.
    for (const char* line : {"1,-40", "1,-40,,", "1,nan,", "1,,inf", "1,1e999,", "1,--4,", "1,+-4,",
                             "1,++4,", "1,0x10,"})
        all.emplace_back(head + line + "\n", "Line 2 of f.csv: ");
    EXPECT_NO_THROW(ParseLimits(head + "1,-300,100\n", "f.csv"));
    for (const auto& [text, start] : all) {
        const std::string& file = text; // a lambda may not capture a structured binding
        const std::string message = Thrown<ELimitFileError>([&] { ParseLimits(file, "f.csv"); });
        EXPECT_EQ(message.rfind(start, 0), 0u) << "message \"" << message << "\" for: " << text;
    }
}

TEST_F(LimitFileTest, WrittenLimitsReadBackTheSame)
{
    // Curves at different frequencies, a gap and both flat ends.
    TLimits limits;
    limits.Upper = TLimitCurve({{0.1, -20.125}, {3.3, -30}, {5, None}, {6.75, -31.5}});
    limits.Lower = TLimitCurve({{2, None}, {4.1, -100.3}, {4.2, -99.7}, {4.3, None}});
    WriteLimitsFile(Path, limits);
    const TLimits back = ReadLimitsFile(Path);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> mhz(-10, 50);
    std::vector<double> probes = {0.1, 3.3, 5, 6.75, 2, 4.1, 4.2, 4.3};
    for (int i = 0; i < 2000; ++i)
        probes.push_back(mhz(rng));
    for (const double f : probes) {
        ExpectLevel(limits.Upper.LevelAt(f), back.Upper.LevelAt(f),
                    "upper at " + std::to_string(f));
        ExpectLevel(limits.Lower.LevelAt(f), back.Lower.LevelAt(f),
                    "lower at " + std::to_string(f));
    }
    // Writing what was read gives the same file.
    EXPECT_EQ(FormatLimits(back), Content());

    // Curves at the same frequencies read back point for point, to the last bit.
    TLimits trace;
    std::vector<float> levels(300);
    for (int i = 0; i < 300; ++i)
        levels[i] = -80.0f + float(std::sin(i * 0.37)) * 7.3f;
    trace.Upper = CurveFromTrace({300, 0.123, 1.1, false}, levels.data(), 0, 300, 6.0);
    WriteLimitsFile(Path, trace);
    const TLimits traceBack = ReadLimitsFile(Path);
    EXPECT_EQ(traceBack.Upper, trace.Upper);
    EXPECT_TRUE(traceBack.Lower.Empty());

    // Files of sizes around powers of two, whatever chunks they are read in, are read to their
    // last byte.
    const std::string head = "MHz,upper_dBm,lower_dBm\n1,-40,\n", last = "7,,-88";
    for (size_t size = 4096; size <= (size_t(1) << 17); size *= 2)
        for (size_t extra : {0, 1}) {
            Put(head + std::string(size + extra - head.size() - last.size(), '\n') + last);
            EXPECT_EQ(ReadLimitsFile(Path).Lower.LevelAt(12), -88) << size + extra;
        }
}

TEST_F(LimitFileTest, AFailedSaveLeavesTheOldFile)
{
    Put("MHz,upper_dBm,lower_dBm\n1,-40,\n");
    TLimits big;
    std::vector<float> levels(4096, -70.123456f);
    big.Upper = CurveFromTrace({4096, 0, 0, false}, levels.data(), 0, 4096, 0.0);
    {
        TFullDisk disk(1000);
        EXPECT_THROW(WriteLimitsFile(Path, big), ELimitFileError);
    }
    EXPECT_EQ(Content(), "MHz,upper_dBm,lower_dBm\n1,-40,\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), {}), 1);

    EXPECT_THROW(WriteLimitsFile((Dir / "no-such-folder" / "x.csv").string(), big),
                 ELimitFileError);
    EXPECT_THROW(ReadLimitsFile((Dir / "missing.csv").string()), ELimitFileError);
    // Anything beyond 64 MB is no limits file: refused with the bound, before it is all read.
    std::filesystem::resize_file(Path, (size_t(64) << 20) + 1);
    try {
        ReadLimitsFile(Path);
        ADD_FAILURE() << "a file of 64 MB and a byte was read";
    } catch (const ELimitFileError& e) {
        EXPECT_EQ(std::string(e.what()), Path + " is not a limits file: it is larger than 64 MB");
    }
}

// Curves are the same only with the same points, a gap (no level) the same only as a gap: what
// tells the window that limits have changed.
TEST(LimitCurve, SameOnlyWithTheSamePointsAndGaps)
{
    const double gap = std::nan("");
    const TLimitCurve curve({{1, -40}, {2, gap}, {3, -50}});
    EXPECT_TRUE(curve == TLimitCurve({{1, -40}, {2, gap}, {3, -50}}));
    for (const auto& other :
         {TLimitCurve({{1, -40}, {2, -60}, {3, -50}}), TLimitCurve({{1, -40}, {2, gap}, {3, gap}}),
          TLimitCurve({{1, -40}, {2.5, gap}, {3, -50}}), TLimitCurve({{1, -40}, {2, gap}}),
          TLimitCurve()})
        EXPECT_FALSE(curve == other || other == curve);
}
