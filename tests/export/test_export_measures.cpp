#include "test_export_support.h"

#include "ExportPipeline.h"
#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "LimitEpisodes.h"
#include "LimitEventLog.h"
#include "LimitFile.h"
#include "SpkRecordFile.h"

#include <cstring>
#include <map>

using namespace quillex;

namespace {

// The window's 2N coefficients summed, from their formulas (symmetric over 2N - 1 steps).
double WindowSum(const std::string& Window, int N)
{
    double sum = 0;
    for (int n = 0; n < 2 * N; ++n) {
        const double x = 2 * std::numbers::pi * n / (2 * N - 1);
        sum += Window == "rect"      ? 1.0
               : Window == "hann"    ? 0.5 - 0.5 * std::cos(x)
               : Window == "hamming" ? 0.54 - 0.46 * std::cos(x)
                                     : 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x);
    }
    return sum;
}

// What the program shows for a cosine of Amplitude in sample units exactly on a bin: the
// samples are doubled and the transform divides by N, so the bin holds Amplitude * sum(w) / N.
double OnBinLevel(double Amplitude, const std::string& Window, int N)
{
    return 20 * std::log10(Amplitude * WindowSum(Window, N) / N / 16384 + 1e-9);
}

double Number(const std::string& Text)
{
    return std::stod(Text);
}

// "yyyy-mm-ddThh:nn:ss.zzz" of a moment Ms milliseconds after 2026-12-06 23:59:58.000.
std::string TimeText(int64_t Ms)
{
    const int64_t s = 58 + Ms / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "2026-12-%02dT%02d:%02d:%02d.%03d", s >= 60 ? 7 : 6,
                  s >= 60 ? 0 : 23, s >= 60 ? int(s / 60 - 1) : 59, int(s % 60), int(Ms % 1000));
    return text;
}

struct TPeakLine
{
    int Rank;
    double MHz;
    double Dbm;
};

// The peak table's lines by frame; the header is checked here.
std::map<int64_t, std::vector<TPeakLine>> ReadPeaks(const QString& Path)
{
    const auto lines = ReadCsv(Path);
    EXPECT_FALSE(lines.empty());
    std::map<int64_t, std::vector<TPeakLine>> peaks;
    if (lines.empty())
        return peaks;
    EXPECT_EQ(lines[0],
              (std::vector<std::string>{"time", "stamped", "frame", "rank", "MHz", "dBm"}));
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), 6u);
        peaks[std::stoll(lines[i][2])].push_back(
            {std::stoi(lines[i][3]), Number(lines[i][4]), Number(lines[i][5])});
    }
    return peaks;
}

struct TTone
{
    double Bin;
    double Amplitude;
};

// The lines a row must have: Tones strongest first, ranked from 1, at their frequencies
// (offset applied, mirrored when asked) and on-bin levels.
void ExpectPeaks(const std::vector<TPeakLine>& Lines, std::vector<TTone> Tones, int N,
                 const std::string& Window, double OffsetMHz, bool Inverted, double LevelDb = 0,
                 double BinTolerance = 0.01, double DbTolerance = 0.03)
{
    std::stable_sort(Tones.begin(), Tones.end(),
                     [](const TTone& A, const TTone& B) { return A.Amplitude > B.Amplitude; });
    ASSERT_EQ(Lines.size(), Tones.size());
    for (size_t i = 0; i < Tones.size(); ++i) {
        SCOPED_TRACE("tone at bin " + std::to_string(Tones[i].Bin));
        const double displayed = Inverted ? N - 1 - Tones[i].Bin : Tones[i].Bin;
        EXPECT_EQ(Lines[i].Rank, int(i) + 1);
        EXPECT_NEAR(Lines[i].MHz, OffsetMHz + displayed * 40.0 / N, BinTolerance * 40.0 / N);
        EXPECT_NEAR(Lines[i].Dbm, OnBinLevel(Tones[i].Amplitude, Window, N) + LevelDb, DbTolerance);
    }
}

class ExportMeasureTest : public ExportFolderTest
{
};

} // namespace

// Tones between bins, of different levels, in a recording with a frequency and a level
// offset: every row lists them strongest first at their interpolated frequency (offset
// applied) and their on-bin level (without the level offset), with every window. A row's
// time, stamped and frame are those of the level table's row.
TEST_F(ExportMeasureTest, PeakTableHoldsOffBinTonesAtTheirFrequencyAndLevel)
{
    const std::vector<TTone> tones = {{100.3, 3000}, {350.62, 6000}, {600.5, 2000}, {850.87, 4500}};
    TRecordingPlan plan{.N = 1024, .Frames = 6, .Header = "Offsets:       1.250    -3.0"};
    for (const TTone& t : tones)
        plan.Carriers.push_back({t.Bin, t.Amplitude});
    const double base = EncodeDateTime(2026, 12, 6, 23, 59, 58);
    plan.Stamp = [&](int64_t f) { return f == 2 || f == 4 ? base + f / 86400.0 : 0.0; };
    WriteBytes(Path("tones.spk"), MakeRecordingBytes(plan));

    for (const std::string window : {"rect", "hann", "hamming", "blackman"}) {
        SCOPED_TRACE(window);
        const TRun run = RunExport({Path("tones.spk"), "--fft-exponent", "10", "--window",
                                    QString::fromStdString(window), "--peaks", Path("peaks.csv"),
                                    "--csv", Path("levels.csv"), "--peak-min-dbm", "-60"});
        ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
        const auto peaks = ReadPeaks(Path("peaks.csv"));
        ASSERT_EQ(peaks.size(), 6u);
        for (const auto& [frame, lines] : peaks) {
            SCOPED_TRACE("frame " + std::to_string(frame));
            ExpectPeaks(lines, tones, 1024, window, 1.25, false, 0.0, 0.01, 0.05);
        }
        // The first three columns as in the level table.
        const auto levels = ReadCsv(Path("levels.csv"));
        const auto table = ReadCsv(Path("peaks.csv"));
        ASSERT_EQ(table.size(), 1u + 6u * 4u);
        for (size_t i = 1; i < table.size(); ++i) {
            const auto& row = levels[size_t(std::stoll(table[i][2]))];
            EXPECT_EQ(std::vector<std::string>(table[i].begin(), table[i].begin() + 3),
                      std::vector<std::string>(row.begin(), row.begin() + 3));
        }
        EXPECT_EQ(table[1][0], "2026-12-06T23:59:59.000"); // frame 1, at the pace of 2 and 4
        EXPECT_EQ(table[5][1], "1");                       // frame 2 carries its stamp
    }
}

// How many peaks and from what level, folded rows (a tone in one frame of four: at its
// level by max, a quarter of its magnitude by mean), mirroring, and a span whose first bin
// holds a tone lying just outside it: the search sees the bins beyond the span, and a tone
// whose largest bin lies outside is left out.
TEST_F(ExportMeasureTest, PeakCountLevelFoldsMirroringAndTheSpansEdges)
{
    const int n = 512;
    const std::vector<TTone> steady = {
        {60.4, 4000}, {199.7, 3000}, {300.2, 6000}, {329.2, 3500}, {420.55, 1000}};
    const TTone burst{150.7, 2500}; // in frames 1, 5 and 9: the first of each row of four
    TRecordingPlan plan{.N = n, .Frames = 12, .Header = "Offsets:       1.250     0.0"};
    for (const TTone& t : steady)
        plan.Carriers.push_back({t.Bin, t.Amplitude});
    for (const int64_t f : {1, 5, 9})
        plan.Carriers.push_back({burst.Bin, burst.Amplitude, f, f});
    WriteBytes(Path("mix.spk"), MakeRecordingBytes(plan));
    const auto run = [&](const QStringList& Args) {
        const TRun r = RunExport(
            QStringList{Path("mix.spk"), "--fft-exponent", "9", "--peaks", Path("p.csv")} + Args);
        EXPECT_EQ(r.Code, 0) << r.Err.toStdString();
        return ReadPeaks(Path("p.csv"));
    };
    const auto withBurst = [&](int64_t Frame) { return Frame % 4 == 1; };
    const auto above = [&](double Dbm, bool Burst) {
        std::vector<TTone> kept;
        for (const TTone& t : steady)
            if (OnBinLevel(t.Amplitude, "hann", n) >= Dbm)
                kept.push_back(t);
        if (Burst && OnBinLevel(burst.Amplitude, "hann", n) >= Dbm)
            kept.push_back(burst);
        return kept;
    };

    // The two strongest, whatever else the row holds.
    auto peaks = run({"--peak-count", "2"});
    ASSERT_EQ(peaks.size(), 12u);
    for (const auto& [frame, lines] : peaks)
        ExpectPeaks(lines, {{300.2, 6000}, {60.4, 4000}}, n, "hann", 1.25, false);

    // From -20 dBm (between the 1000 and the 2500 tone): by default --min-dbm's level,
    // otherwise --peak-min-dbm's; five at most.
    for (const QStringList& args : {QStringList{"--min-dbm", "-20", "--max-dbm", "0"},
                                    QStringList{"--min-dbm", "-130", "--peak-min-dbm", "-20"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        peaks = run(args);
        ASSERT_EQ(peaks.size(), 12u);
        for (const auto& [frame, lines] : peaks) {
            SCOPED_TRACE("frame " + std::to_string(frame));
            ExpectPeaks(lines, above(-20, withBurst(frame)), n, "hann", 1.25, false);
        }
    }

    // Rows of four frames: the burst at its level by max, at a quarter of its magnitude
    // (-12.04 dB; the noise in the other frames adds under 0.01 dB) by mean.
    for (const char* mode : {"max", "mean"}) {
        SCOPED_TRACE(mode);
        peaks =
            run({"--fold", "4", "--fold-mode", mode, "--peak-count", "6", "--peak-min-dbm", "-60"});
        ASSERT_EQ(peaks.size(), 3u);
        for (const int64_t first : {1, 5, 9}) {
            ASSERT_TRUE(peaks.count(first)) << first;
            const auto& lines = peaks[first];
            ASSERT_EQ(lines.size(), 6u);
            const double expected = OnBinLevel(burst.Amplitude, "hann", n) +
                                    (std::string(mode) == "mean" ? 20 * std::log10(0.25) : 0.0);
            const auto line = std::find_if(lines.begin(), lines.end(), [&](const TPeakLine& L) {
                return std::fabs(L.MHz - (1.25 + burst.Bin * 40.0 / n)) < 0.01 * 40.0 / n;
            });
            ASSERT_NE(line, lines.end());
            EXPECT_NEAR(line->Dbm, expected, 0.05);
        }
    }

    // Mirrored: the frequencies of the displayed positions N-1-p.
    peaks = run({"--inverted", "yes", "--peak-count", "6", "--peak-min-dbm", "-60"});
    ASSERT_EQ(peaks.size(), 12u);
    for (const auto& [frame, lines] : peaks) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        ExpectPeaks(lines, above(-60, withBurst(frame)), n, "hann", 1.25, true);
    }

    // A 10 MHz span of bins 200 .. 327: the tone at 199.7 has its largest bin at 200, its
    // left neighbour outside; 329.2 and 150.7 lie outside.
    ASSERT_EQ(SpanStart(n, 10, 20625), 200);
    peaks = run({"--span-mhz", "10", "--centre-mhz", "20.625", "--peak-min-dbm", "-60"});
    ASSERT_EQ(peaks.size(), 12u);
    for (const auto& [frame, lines] : peaks) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        ExpectPeaks(lines, {{300.2, 6000}, {199.7, 3000}}, n, "hann", 1.25, false);
    }
}

namespace {

struct TEpisodeLine
{
    std::string Start, End;
    int64_t FirstFrame, LastFrame;
    std::string Kind;
    double MHz, Dbm, Excess;
};

std::vector<TEpisodeLine> ReadEvents(const QString& Path)
{
    const auto lines = ReadCsv(Path);
    std::vector<TEpisodeLine> events;
    EXPECT_FALSE(lines.empty());
    if (lines.empty())
        return events;
    EXPECT_EQ(lines[0], SplitCsv("start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB"));
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto& c = lines[i];
        EXPECT_EQ(c.size(), 8u);
        events.push_back({c[0], c[1], std::stoll(c[2]), std::stoll(c[3]), c[4], Number(c[5]),
                          Number(c[6]), Number(c[7])});
    }
    return events;
}

} // namespace

// Bursts above a flat and a bent upper limit and a carrier that drops below a lower limit
// around it, in a recording with offsets whose frames are 50 ms apart (stamped every 20
// frames, across midnight): episodes join over gaps shorter than the hold-off and part over
// longer ones, both kinds may be open at once, lines come as episodes end (the last at the
// end of the recording), and the worst point is the strongest frame's interpolated tone,
// with the level offset, against the curve at its frequency; below a lower limit, the
// lowest bin.
TEST_F(ExportMeasureTest, EventsListBurstsAboveFlatAndBentLimits)
{
    const int n = 1024;
    const double offset = 1.5, levelOffset = 2.0;
    TRecordingPlan plan{.N = n, .Frames = 120, .Header = "Offsets:       1.500     2.0"};
    const double base = EncodeDateTime(2026, 12, 6, 23, 59, 58);
    plan.Stamp = [&](int64_t f) { return (f - 1) % 20 == 0 ? base + (f - 1) / 20 / 86400.0 : 0.0; };
    const double flatBin = 300.3, bentBin = 600.6;
    plan.Carriers = {{flatBin, 600, 10, 11},
                     {flatBin, 1000, 12, 12},
                     {flatBin, 600, 13, 14},
                     {flatBin, 800, 18, 20},
                     {flatBin, 500, 40, 41},
                     {bentBin, 300, 60, 61},
                     {flatBin, 400, 82, 83},
                     {flatBin, 700, 118, 120},
                     // The watched carrier, off in frames 80 .. 84.
                     {809, 200, 1, 79},
                     {809, 200, 85, 120}};
    WriteBytes(Path("bursts.spk"), MakeRecordingBytes(plan));
    // Upper: -50 dBm up to 21.5 MHz, rising to -20 at 31.5 MHz, none beyond. Lower: -60 dBm
    // from 33.05 to 33.15 MHz, bins 808 .. 810 (the carrier's main lobe), and none beyond.
    WriteBytes(Path("limits.csv"), "MHz,upper_dBm,lower_dBm\n21.5,-50,\n31.5,-20,\n"
                                   "33.05,,-60\n33.15,,-60\n33.2,,\n");
    const auto upper = [](double MHz) {
        return MHz <= 21.5 ? -50.0 : MHz >= 31.5 ? -20.0 : -50.0 + 30.0 * (MHz - 21.5) / 10.0;
    };

    const TRun run = RunExport({Path("bursts.spk"), "--fft-exponent", "10", "--limits",
                                Path("limits.csv"), "--events", Path("events.csv"), "--hold-off-s",
                                "0.32", "--csv", Path("levels.csv")});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const auto events = ReadEvents(Path("events.csv"));

    struct TExpected
    {
        int64_t First, Last;
        const char* Kind;
        double Bin, Amplitude; // of the worst frame's tone
    };
    const std::vector<TExpected> expected = {
        {10, 20, "upper", flatBin, 1000}, // the gap 15 .. 17 is shorter than the hold-off
        {40, 41, "upper", flatBin, 500},  {60, 61, "upper", bentBin, 300},
        {82, 83, "upper", flatBin, 400}, // ends at frame 90, 0.35 s later
        {80, 84, "lower", 0, 0},         // ends at frame 91
        {118, 120, "upper", flatBin, 700}};
    ASSERT_EQ(events.size(), expected.size());
    const auto levels = ReadCsv(Path("levels.csv"));
    for (size_t i = 0; i < expected.size(); ++i) {
        const TExpected& x = expected[i];
        const TEpisodeLine& e = events[i];
        SCOPED_TRACE("episode " + std::to_string(i));
        EXPECT_EQ(e.Kind, x.Kind);
        EXPECT_EQ(e.FirstFrame, x.First);
        EXPECT_EQ(e.LastFrame, x.Last);
        EXPECT_EQ(e.Start, TimeText((x.First - 1) * 50));
        EXPECT_EQ(e.End, TimeText((x.Last - 1) * 50));
        if (x.Amplitude > 0) {
            const double mhz = offset + x.Bin * 40.0 / n;
            const double dbm = OnBinLevel(x.Amplitude, "hann", n) + levelOffset;
            EXPECT_NEAR(e.MHz, mhz, 0.01 * 40.0 / n);
            EXPECT_NEAR(e.Dbm, dbm, 0.03);
            EXPECT_NEAR(e.Excess, dbm - upper(mhz), 0.03);
            continue;
        }
        // The lowest of bins 808 .. 810 over the frames off, the earliest on a tie.
        double lowest = 1e9;
        int lowestBin = 0;
        for (int64_t f = x.First; f <= x.Last; ++f)
            for (int b = 808; b <= 810; ++b)
                if (const double level = Number(levels[size_t(f)][size_t(3 + b)]); level < lowest)
                    lowest = level, lowestBin = b;
        EXPECT_NEAR(e.MHz, offset + lowestBin * 40.0 / n, 1e-6);
        EXPECT_NEAR(e.Dbm, lowest + levelOffset, 0.011);
        EXPECT_NEAR(e.Excess, -60 - (lowest + levelOffset), 0.011);
    }
}

// Frame by frame as the window would check them (its FFT, running average and limit check
// on one thread, in order): the same episodes, line for line, averaged or not, mirrored,
// across batches, on two threads, beside a folded level table, which the check leaves as
// it is without one.
TEST_F(ExportMeasureTest, EventsAreTheWindowsFrameByFrame)
{
    const int exponent = 8, n = 256;
    const int64_t frames = 700;
    TRecordingPlan plan{.N = n, .Frames = frames, .Header = "Offsets:       0.750    -1.0"};
    const double base = EncodeDateTime(2026, 12, 6, 23, 59, 58);
    plan.Stamp = [&](int64_t f) { return f % 25 == 3 ? base + f * 0.04 / 86400.0 : 0.0; };
    for (int64_t f = 5; f < frames; f += 37)
        plan.Carriers.push_back({40.3 + double(f % 50), 300.0 + double(f % 7) * 100, f, f + f % 4});
    plan.Carriers.push_back({180, 150, 1, 300});
    plan.Carriers.push_back({180, 150, 330, frames});
    WriteBytes(Path("many.spk"), MakeRecordingBytes(plan));
    // Mirrored, physical bin p lies at 0.75 + (255 - p) * 40 / 256 MHz: the lower limit
    // covers bins 179 .. 181, the carrier's main lobe; the upper rises from -45 dBm at 5 MHz
    // to -30 at 35.
    const std::string limits = "MHz,upper_dBm,lower_dBm\n5,-45,\n12.3,-41.35,-75\n"
                               "12.63,-41.185,-75\n35,-30,\n";
    WriteBytes(Path("limits.csv"), limits);
    const TLimits parsed = ParseLimits(limits, "limits.csv");

    for (const int average : {1, 3}) {
        SCOPED_TRACE("average " + std::to_string(average));
        const auto common = [&](const char* Csv) {
            return QStringList{Path("many.spk"),
                               "--fft-exponent",
                               "8",
                               "--average",
                               QString::number(average),
                               "--inverted",
                               "yes",
                               "--csv",
                               Path(Csv),
                               "--fold",
                               "7",
                               "--threads",
                               "2"};
        };
        TRun run =
            RunExport(common("with.csv") + QStringList{"--limits", Path("limits.csv"), "--events",
                                                       Path("events.csv"), "--hold-off-s", "0.2"});
        ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
        std::ifstream in(Path("events.csv").toStdString());
        std::vector<std::string> exported;
        for (std::string line; std::getline(in, line);)
            exported.push_back(line + "\n");

        TLimitCheck check;
        check.Set(parsed, {n, 0.75, -1.0, true});
        TLimitEpisodes episodes;
        episodes.SetHoldOffSeconds(0.2);
        TDXFFT fft;
        fft.setExponent(exponent);
        fft.setLeakFunction(wnHanning);
        TDXVector* input = fft.CreateVector(2 * n);
        TDXComplexVector* output = fft.CreateComplexVector(n);
        std::vector<float> avg(n, 0.0f);
        std::vector<std::string> window{LimitLogHeader()};
        const std::string bytes = MakeRecordingBytes(plan);
        std::vector<int16_t> block(SampleBlockSamples);
        for (int64_t f = 1; f <= frames; ++f) {
            double stamp = 0;
            DecodeDataRecord(reinterpret_cast<const uint8_t*>(bytes.data()) + f * FrameRecordSize,
                             stamp, block.data());
            ASSERT_TRUE(TransformBlock(block.data(), fft, input, output));
            AverageMagnitudes(output->Real->Values, avg.data(), n, average);
            // Stamps every 25 frames from frame 3, 40 ms a frame.
            const double time = base + double(f) * 0.04 / 86400.0;
            const TLimitStep& step =
                episodes.Frame(check, check.Check(avg.data()), avg.data(), f, time);
            for (int e = 0; e < step.EndedCount; ++e)
                window.push_back(LimitLogLine(step.Ended[size_t(e)]));
        }
        const TLimitStep& last = episodes.Finish();
        for (int e = 0; e < last.EndedCount; ++e)
            window.push_back(LimitLogLine(last.Ended[size_t(e)]));
        EXPECT_GT(window.size(), 6u);
        EXPECT_EQ(exported, window);

        run = RunExport(common("without.csv"));
        ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
        QFile with(Path("with.csv")), without(Path("without.csv"));
        ASSERT_TRUE(with.open(QIODevice::ReadOnly) && without.open(QIODevice::ReadOnly));
        EXPECT_TRUE(with.readAll() == without.readAll());
    }
}

// Each bad combination or bad limits file gives one line naming the problem, its exit code
// and no output. A recording without two stamps has no frame times: its episodes need a
// hold-off of 0, and then come without times.
TEST_F(ExportMeasureTest, BadLimitsOptionsAndRecordingsWithoutTimes)
{
    WriteBytes(Path("rec.spk"),
               MakeRecordingBytes({.N = 256,
                                   .Frames = 30,
                                   .Carriers = {{50.5, 2000, 5, 6}, {50.5, 2000, 9, 9}},
                                   .Header = "Offsets:       0.000     0.0"}));
    // One stamp, on the first frame: only that frame has a time.
    WriteBytes(Path("one.spk"),
               MakeRecordingBytes({.N = 256,
                                   .Frames = 30,
                                   .Stamp = [](int64_t f) { return f == 1 ? 46000.0 : 0.0; },
                                   .Header = "Offsets:       0.000     0.0"}));
    WriteBytes(Path("limits.csv"), "MHz,upper_dBm,lower_dBm\n0,-40,\n");
    WriteBytes(Path("falling.csv"), "MHz,upper_dBm,lower_dBm\n5,-40,\n\n7,-40,\n6,-40,\n");
    WriteBytes(Path("header.csv"), "MHz,upper,lower\n5,-40,\n");
    const QString rec = Path("rec.spk");
    const QStringList scan{"--limits", Path("limits.csv"), "--events", Path("ev.csv")};
    const std::vector<std::tuple<QStringList, int, const char*>> cases = {
        {{rec, "--limits", Path("limits.csv")}, 2, "--limits needs --events"},
        {{rec, "--events", Path("ev.csv")}, 2, "--events needs --limits"},
        {QStringList{rec, "--csv", Path("l.csv"), "--hold-off-s", "2"}, 2, "--hold-off-s needs"},
        {{rec, "--csv", Path("l.csv"), "--peak-count", "3"}, 2, "--peak-count needs --peaks"},
        {{rec, "--csv", Path("l.csv"), "--peak-min-dbm", "-90"}, 2, "--peak-min-dbm needs"},
        {QStringList{rec, "--peaks", Path("ev.csv")} + scan, 2, "--peaks and --events"},
        {QStringList{rec, "--csv", Path("limits.csv")} + scan, 2, "--csv names the limits file"},
        {QStringList{rec, "--peaks", Dir.path() + "/./limits.csv"} + scan, 2, "the limits file"},
        {QStringList{rec, "--limits", Path("limits.csv"), "--events", rec}, 2, "recording itself"},
        {{rec, "--limits", Path("falling.csv"), "--events", Path("ev.csv")}, 6, "Line 5 of"},
        {{rec, "--limits", Path("header.csv"), "--events", Path("ev.csv")}, 6, "Line 1 of"},
        {{rec, "--limits", Path("gone.csv"), "--events", Path("ev.csv")}, 6, "gone.csv"},
        {QStringList{rec, "--csv", Path("l.csv")} + scan, 4, "fewer than two stamped frames"},
        {QStringList{Path("one.spk")} + scan, 4, "fewer than two stamped frames"},
    };
    for (const auto& [args, code, text] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        ExpectFailure(RunExport(args), code, text);
        EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"falling.csv", "header.csv", "limits.csv", "one.spk", "rec.spk"}));
    }

    // With a hold-off of 0 an episode ends at its first frame within the limits.
    const TRun run = RunExport(QStringList{rec, "--hold-off-s", "0"} + scan);
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const auto events = ReadEvents(Path("ev.csv"));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Start, "");
    EXPECT_EQ(events[0].End, "");
    EXPECT_EQ(events[0].FirstFrame, 5);
    EXPECT_EQ(events[0].LastFrame, 6);
    EXPECT_EQ(events[1].FirstFrame, 9);
    EXPECT_EQ(events[1].LastFrame, 9);

    // Two stamps give every frame a time: the last of two frames scanned alone has one.
    WriteBytes(Path("two.spk"),
               MakeRecordingBytes({.N = 256,
                                   .Frames = 2,
                                   .Stamp = [](int64_t f) { return 46000.0 + double(f) / 86400; },
                                   .Header = "Offsets:       0.000     0.0"}));
    const TRun last = RunExport(QStringList{Path("two.spk"), "--first", "2"} + scan);
    EXPECT_EQ(last.Code, 0) << last.Err.toStdString();
}

namespace {

struct TMeasuredRow
{
    TOutputRow Row;
    std::vector<float> Levels, Magnitudes;
};

} // namespace

// With a margin, rows keep the fold of their magnitudes over the span and the bins beyond
// it (cut at the spectrum's ends): what the whole spectrum's rows hold for those bins, and
// their levels are its span's, on every path (frames alone or averaged, rows whole or in
// parts, max or mean, mirrored or not). Measuring every frame as well, each gets its
// averages of all N bins, as the window's running average leaves them, and the results
// come back in frame order while the rows stay the same.
TEST(ExportPipelineMeasures, RowMagnitudesWithMarginsAndEveryFramesAverages)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath(QStringLiteral("m.spk")).toStdString();
    const int exponent = 10, n = 1024;
    const int64_t frames = 300;
    const std::string bytes = MakeRecordingBytes(
        {.N = n, .Frames = frames, .Carriers = {{20.4, 3000.0}, {530.6, 2000.0, 100, 180}}});
    WriteBytes(QString::fromStdString(path), bytes);
    TSpkRecordFile file;
    file.Open(path);

    const auto collect = [&](const TPipelineSettings& S, TPipelineOutput Out) {
        std::vector<TMeasuredRow> rows;
        const int length = SpanOf(S.Spectrum).Length;
        Out.Row = [&](const TOutputRow& Row) {
            rows.push_back(
                {Row, std::vector<float>(Row.Levels, Row.Levels + length),
                 std::vector<float>(Row.Magnitudes, Row.Magnitudes + Row.MagnitudeBins)});
        };
        RunPipeline(file, S, Out);
        return rows;
    };
    struct TCase
    {
        int Average;
        int64_t Fold;
        TFoldMode Mode;
        bool Inverted;
        int CentreKHz;
    };
    for (const TCase& c :
         {TCase{1, 1, TFoldMode::Max, false, 3000}, TCase{1, 5, TFoldMode::Mean, true, 20000},
          TCase{1, 40, TFoldMode::Max, true, 3000}, TCase{3, 7, TFoldMode::Mean, false, 20000},
          TCase{3, 7, TFoldMode::Max, true, 3000}}) {
        SCOPED_TRACE("average " + std::to_string(c.Average) + ", fold " + std::to_string(c.Fold) +
                     (c.Inverted ? ", mirrored" : "") + ", centre " + std::to_string(c.CentreKHz));
        TPipelineSettings whole;
        whole.Spectrum.Exponent = exponent;
        whole.Spectrum.Average = c.Average;
        whole.Spectrum.Inverted = c.Inverted;
        whole.Last = frames - 1;
        whole.Fold = c.Fold;
        whole.FoldMode = c.Mode;
        whole.Threads = 2;
        whole.RowMagnitudes = true;
        const auto reference = collect(whole, {});
        ASSERT_EQ(reference[0].Row.MagnitudeFirstBin, 0);
        ASSERT_EQ(reference[0].Row.MagnitudeBins, n);

        // 5 MHz, 128 bins: around 3 MHz from bin 13, the margin cut at an end of the
        // spectrum; around 20 MHz from bin 448, across the averages' ranges of 512 bins.
        TPipelineSettings span = whole;
        span.Spectrum.SpanMHz = 5;
        span.Spectrum.CentreKHz = c.CentreKHz;
        span.MarginBins = 32;
        const int start = SpanStart(n, 5, c.CentreKHz);
        ASSERT_EQ(start, c.CentreKHz == 3000 ? 13 : 448);
        const int physical = c.Inverted ? n - start - 128 : start;
        const int first = std::max(0, physical - 32);
        const int count = std::min(n, physical + 128 + 32) - first;
        std::vector<std::vector<float>> averages{size_t(frames)};
        std::vector<int64_t> order;
        TPipelineOutput measured;
        measured.MeasureFrame = [&](int, int64_t Frame, const float* M, std::byte* Result) {
            averages[size_t(Frame)].assign(M, M + n);
            std::memcpy(Result, &Frame, sizeof Frame);
        };
        measured.FrameResultBytes = sizeof(int64_t);
        measured.FramesMeasured = [&](int64_t First, int Count, const std::byte* Results) {
            for (int f = 0; f < Count; ++f) {
                int64_t frame = -1;
                std::memcpy(&frame, Results + f * sizeof frame, sizeof frame);
                EXPECT_EQ(frame, First + f);
                order.push_back(frame);
            }
        };
        for (const bool measure : {false, true}) {
            SCOPED_TRACE(measure ? "every frame measured" : "rows only");
            const auto rows = collect(span, measure ? measured : TPipelineOutput{});
            ASSERT_EQ(rows.size(), reference.size());
            for (size_t r = 0; r < rows.size(); ++r) {
                ASSERT_EQ(rows[r].Row.MagnitudeFirstBin, first);
                ASSERT_EQ(rows[r].Row.MagnitudeBins, count);
                ASSERT_TRUE(std::equal(rows[r].Magnitudes.begin(), rows[r].Magnitudes.end(),
                                       reference[r].Magnitudes.begin() + first))
                    << "row " << r;
                ASSERT_TRUE(std::equal(rows[r].Levels.begin(), rows[r].Levels.end(),
                                       reference[r].Levels.begin() + start))
                    << "row " << r;
            }
        }
        ASSERT_EQ(order.size(), size_t(frames));

        // The window's way: one frame after the other, averaged over all N bins.
        TDXFFT fft;
        fft.setExponent(exponent);
        fft.setLeakFunction(wnHanning);
        TDXVector* input = fft.CreateVector(2 * n);
        TDXComplexVector* output = fft.CreateComplexVector(n);
        std::vector<float> avg(n, 0.0f);
        std::vector<int16_t> block(SampleBlockSamples);
        for (int64_t f = 0; f < frames; ++f) {
            double stamp = 0;
            DecodeDataRecord(reinterpret_cast<const uint8_t*>(bytes.data()) + f * FrameRecordSize,
                             stamp, block.data());
            ASSERT_TRUE(TransformBlock(block.data(), fft, input, output));
            AverageMagnitudes(output->Real->Values, avg.data(), n, c.Average);
            ASSERT_EQ(averages[size_t(f)], avg) << "frame " << f;
        }
    }
}
