#include "test_export_support.h"

#include <map>

using namespace quillex;

namespace {

using ExportMeasureTest = ExportFolderTest;

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
    EXPECT_EQ(lines.empty() ? TCells{} : lines[0], SplitCsv("time,stamped,frame,rank,MHz,dBm"));
    std::map<int64_t, std::vector<TPeakLine>> peaks;
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), 6u);
        // Megahertz with six decimals, dBm with two.
        EXPECT_EQ(lines[i][4].size() - lines[i][4].find('.'), 7u) << lines[i][4];
        EXPECT_EQ(lines[i][5].size() - lines[i][5].find('.'), 3u) << lines[i][5];
        peaks[std::stoll(lines[i][2])].push_back(
            {std::stoi(lines[i][3]), std::stod(lines[i][4]), std::stod(lines[i][5])});
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
                 double OffsetMHz, bool Inverted, double DbTolerance = 0.03)
{
    std::stable_sort(Tones.begin(), Tones.end(),
                     [](const TTone& A, const TTone& B) { return A.Amplitude > B.Amplitude; });
    ASSERT_EQ(Lines.size(), Tones.size());
    for (size_t i = 0; i < Tones.size(); ++i) {
        SCOPED_TRACE("tone at bin " + std::to_string(Tones[i].Bin));
        const double displayed = Inverted ? N - 1 - Tones[i].Bin : Tones[i].Bin;
        EXPECT_EQ(Lines[i].Rank, int(i) + 1);
        EXPECT_NEAR(Lines[i].MHz, OffsetMHz + displayed * 40.0 / N, 0.01 * 40.0 / N);
        EXPECT_NEAR(Lines[i].Dbm, OnBinLevel(Tones[i].Amplitude, N), DbTolerance);
    }
}

} // namespace

// Tones between bins and one on a bin, of different levels, in a recording with a frequency
// and a level offset: every row lists them strongest first at their interpolated frequency
// (offset applied) and their on-bin level (without the level offset), with every window the
// level Hann gives, as the on-bin tone's own bin in the level table. A row's time, stamped
// and frame are those of the level table's row.
TEST_F(ExportMeasureTest, PeakTableHoldsOffBinTonesAtTheirFrequencyAndLevel)
{
    const TTone onBin{980, 3500};
    const std::vector<TTone> tones = {
        {100.3, 3000}, {350.62, 6000}, {600.5, 2000}, {850.87, 4500}, onBin};
    TRecordingPlan plan{.N = 1024, .Frames = 6, .Header = "Offsets:       1.250    -3.0"};
    for (const TTone& t : tones)
        plan.Carriers.push_back({t.Bin, t.Amplitude});
    const double base = EncodeDateTime(2026, 12, 6, 23, 59, 58);
    plan.Stamp = [&](int64_t f) { return f == 2 || f == 4 ? base + f / 86400.0 : 0.0; };
    WriteBytes(Path("tones.spk"), MakeRecordingBytes(plan));

    for (const std::string window : {"rect", "hann", "hamming", "blackman"}) {
        SCOPED_TRACE(window);
        RunOk({Path("tones.spk"), "--fft-exponent", "10", "--window",
               QString::fromStdString(window), "--peaks", Path("peaks.csv"), "--csv",
               Path("levels.csv"), "--peak-min-dbm", "-60"});
        const auto peaks = ReadPeaks(Path("peaks.csv"));
        ASSERT_EQ(peaks.size(), 6u);
        for (const auto& [frame, lines] : peaks) {
            SCOPED_TRACE("frame " + std::to_string(frame));
            ExpectPeaks(lines, tones, 1024, 1.25, false, 0.05);
        }
        // The first three columns as in the level table.
        const auto levels = ReadCsv(Path("levels.csv"));
        const auto table = ReadCsv(Path("peaks.csv"));
        ASSERT_EQ(table.size(), 1u + 6u * 5u);
        for (size_t i = 1; i < table.size(); ++i) {
            const auto& row = levels[size_t(std::stoll(table[i][2]))];
            EXPECT_EQ(Cells(table[i], 0, 3), Cells(row, 0, 3));
        }
        // The rectangle's side lobes, falling only as 1/x, bring 0.05 dB of the other tones.
        for (size_t row = 1; row < levels.size(); ++row)
            EXPECT_NEAR(std::stod(levels[row][3 + size_t(onBin.Bin)]),
                        OnBinLevel(onBin.Amplitude, 1024), 0.06);
        EXPECT_EQ(table[1][0], "2026-12-06T23:59:59.000"); // frame 1, at the pace of 2 and 4
        EXPECT_EQ(table[6][1], "1");                       // frame 2 carries its stamp
    }
}

// How many peaks and from what level (a tone in one frame of four among steady ones),
// mirroring, and a span whose first bin holds a tone lying just outside it: the search sees
// the bins beyond the span, and a tone whose largest bin lies outside is left out.
TEST_F(ExportMeasureTest, PeakCountLevelMirroringAndTheSpansEdges)
{
    const int n = 512;
    const std::vector<TTone> steady = {
        {60.4, 4000}, {199.7, 3000}, {300.2, 6000}, {328.2, 3500}, {420.55, 1000}};
    const TTone burst{150.7, 2500}; // in frames 1, 5 and 9
    TRecordingPlan plan{.N = n, .Frames = 12, .Header = "Offsets:       1.250     0.0"};
    for (const TTone& t : steady)
        plan.Carriers.push_back({t.Bin, t.Amplitude});
    for (const int64_t f : {1, 5, 9})
        plan.Carriers.push_back({burst.Bin, burst.Amplitude, f, f});
    WriteBytes(Path("mix.spk"), MakeRecordingBytes(plan));
    // Per row, the Count strongest tones at or above Dbm (the burst in its frames).
    const auto strongest = [&](int64_t Frame, double Dbm, size_t Count) {
        std::vector<TTone> kept;
        for (const TTone& t : steady)
            if (OnBinLevel(t.Amplitude, n) >= Dbm)
                kept.push_back(t);
        if (Frame % 4 == 1 && OnBinLevel(burst.Amplitude, n) >= Dbm)
            kept.push_back(burst);
        std::sort(kept.begin(), kept.end(),
                  [](const TTone& A, const TTone& B) { return A.Amplitude > B.Amplitude; });
        kept.resize(std::min(kept.size(), Count));
        return kept;
    };
    const auto check = [&](const QStringList& Args, bool Inverted, const auto& Tones) {
        SCOPED_TRACE(Args.join(' ').toStdString());
        RunOk(QStringList{Path("mix.spk"), "--fft-exponent", "9", "--peaks", Path("p.csv")} + Args);
        const auto peaks = ReadPeaks(Path("p.csv"));
        ASSERT_EQ(peaks.size(), 12u);
        for (const auto& [frame, lines] : peaks) {
            SCOPED_TRACE("frame " + std::to_string(frame));
            ExpectPeaks(lines, Tones(frame), n, 1.25, Inverted);
        }
    };
    // The two strongest, whatever else the row holds. From -20 dBm (between the 1000 and the
    // 2500 tone): by default --min-dbm's level, otherwise --peak-min-dbm's; five at most.
    // Mirrored: the frequencies of the displayed positions N-1-p.
    for (const auto& [args, dbm, count, inverted] :
         {std::tuple{QStringList{"--peak-count", "2"}, -120.0, size_t(2), false},
          {QStringList{"--min-dbm", "-20", "--max-dbm", "0"}, -20.0, size_t(5), false},
          {QStringList{"--min-dbm", "-130", "--peak-min-dbm", "-20"}, -20.0, size_t(5), false},
          {QStringList{"--inverted", "yes", "--peak-count", "6", "--peak-min-dbm", "-60"}, -60.0,
           size_t(6), true}})
        check(args, inverted,
              [&, dbm = dbm, count = count](int64_t F) { return strongest(F, dbm, count); });

    // A 10 MHz span of bins 200 .. 327: the tone at 199.7 has its largest bin at 200, its
    // left neighbour outside; 328.2 has its largest bin one past the last, 150.7 lies outside.
    ASSERT_EQ(SpanStart(n, 10, 20625), 200);
    check({"--span-mhz", "10", "--centre-mhz", "20.625", "--peak-min-dbm", "-60"}, false,
          [](int64_t) {
              return std::vector<TTone>{{300.2, 6000}, {199.7, 3000}};
          });
    // Mirrored, the same displayed span holds the bins 511-327 .. 511-200 = 184 .. 311.
    check({"--inverted", "yes", "--span-mhz", "10", "--centre-mhz", "20.625", "--peak-min-dbm",
           "-60"},
          true, [](int64_t) {
              return std::vector<TTone>{{300.2, 6000}, {199.7, 3000}};
          });
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
    RunOk(QStringList{rec, "--hold-off-s", "0"} + scan);
    const auto events = ReadCsv(Path("ev.csv"));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], SplitCsv("start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB"));
    for (const auto& [line, first, last] : {std::tuple{1, "5", "6"}, {2, "9", "9"}}) {
        const auto& e = events[size_t(line)];
        ASSERT_EQ(e.size(), 8u);
        EXPECT_EQ(Cells(e, 0, 4), (TCells{"", "", first, last}));
    }

    // Two stamps give every frame a time: the last of two frames scanned alone has one.
    WriteBytes(Path("two.spk"),
               MakeRecordingBytes({.N = 256,
                                   .Frames = 2,
                                   .Stamp = [](int64_t f) { return 46000.0 + double(f) / 86400; },
                                   .Header = "Offsets:       0.000     0.0"}));
    RunOk(QStringList{Path("two.spk"), "--first", "2"} + scan);
}
