#include "test_export_support.h"

#include <map>

namespace {

using ExportStatsTest = ExportFolderTest;

constexpr int N = 1024;
constexpr double OffsetMHz = 1.25, BinMHz = 40.0 / N;
// The recording's noise: (j - 128) / 4 for j uniform in 0 .. 255, rounded with the tones to
// whole samples (a uniform error of 1/12).
const double NoiseVariance = (256.0 * 256.0 - 1.0) / 12.0 / 16.0 + 1.0 / 12.0;
// A tone of amplitude 1 (power 1/2) reads OnBinLevel(1): the noise's power spread over 0 .. 40
// MHz on that scale, in dBm/Hz, and over Bins bins.
const double NoiseDbmHz = OnBinLevel(1, N) + 10 * std::log10(2 * NoiseVariance / 40e6);
double NoiseDbm(int Bins)
{
    return NoiseDbmHz + 10 * std::log10(Bins * BinMHz * 1e6);
}

// A band of the physical bins First .. Last as displayed, its edges half a bin beyond them.
QString Band(const char* Name, int First, int Last, bool Inverted)
{
    const int low = Inverted ? N - 1 - Last : First, high = Inverted ? N - 1 - First : Last;
    return QString::asprintf("%s=%.7f:%.7f", Name, OffsetMHz + (low - 0.5) * BinMHz,
                             OffsetMHz + (high + 0.5) * BinMHz);
}

} // namespace

// A tone of known amplitude on bin 400 in frames 30 .. 50, a flat comb of 20 on-bin tones
// (bins 600 .. 619) and noise of known variance everywhere, in rows of 40 frames from frame 3:
// the tone's band reads the share of its power the row holds (13 and 8 frames of 40), its peak
// and that share of one bin of 21 occupied: with the rectangle, whose on-bin tones stay in their
// bin, from 10 dB over the noise; with the wider main lobes of the others from 66 dB, which only
// the tone's own bin reaches (69 to 71 dB). The comb's 99 % lie in 19.8 bins under the rectangle;
// the quiet band reads the noise's density and power. Before any averaging, at every window and
// inverted or not, with rows measured by the threads that transform them or followed in order
// (averaged, mean fold); the level offset stays out; time, stamped and frame as in the level table,
// which stays as it is without the statistics.
TEST_F(ExportStatsTest, BandsReadTheSignalsPowerNoiseOccupancyAndWidthPerRow)
{
    TRecordingPlan plan{.N = N, .Frames = 82, .Header = "Offsets:       1.250    -3.0"};
    plan.Carriers.push_back({400, 3000, 30, 50});
    for (int b = 600; b < 620; ++b)
        plan.Carriers.push_back({double(b), 200});
    plan.Stamp = [](int64_t f) { return f % 10 == 0 ? 46000.0 + double(f) / 86400 : 0.0; };
    WriteBytes(Path("rec.spk"), MakeRecordingBytes(plan));
    const std::map<int64_t, int> toneFrames = {{3, 13}, {43, 8}};
    const double toneDbm = OnBinLevel(3000, N), toneMHz = 400 * BinMHz;

    for (const auto& [window, average, mode, inverted, db] :
         {std::tuple{"rect", "1", "max", false, "10"},
          {"rect", "8", "max", true, "10"},
          {"hann", "1", "mean", true, "66"},
          {"hamming", "1", "max", false, "66"},
          {"blackman", "8", "mean", false, "66"}}) {
        const QStringList common =
            QStringList{Path("rec.spk"), "--fft-exponent", "10",          "--window", window,
                        "--average",     average,          "--fold-mode", mode} +
            QStringList{"--inverted", inverted ? "yes" : "no", "--first", "3", "--fold", "40"};
        SCOPED_TRACE(common.join(' ').toStdString());
        RunOk(common + QStringList{"--csv", Path("plain.csv")});
        RunOk(common + QStringList{"--stats", Path("s.csv"), "--csv", Path("l.csv"),
                                   "--occupancy-db", db, "--band", Band("tone", 390, 410, inverted),
                                   "--band", Band("comb", 590, 629, inverted), "--band",
                                   Band("quiet", 20, 299, inverted)});
        EXPECT_EQ(FileBytes(Path("l.csv")), FileBytes(Path("plain.csv")));
        const auto lines = ReadCsv(Path("s.csv"));
        ASSERT_EQ(lines.size(), 1u + 2u * 3u);
        EXPECT_EQ(lines[0], SplitCsv("time,stamped,frame,band,low_MHz,high_MHz,power_dBm,"
                                     "noise_dBm_Hz,occupancy_pct,obw_kHz,peak_MHz,peak_dBm"));
        const auto levels = ReadCsv(Path("l.csv"));
        for (size_t i = 1; i < lines.size(); ++i) {
            const TCells& l = lines[i];
            ASSERT_EQ(l.size(), 12u);
            SCOPED_TRACE(l[3] + " row of frame " + l[2]);
            EXPECT_EQ(Cells(l, 0, 3), Cells(levels[1 + (i - 1) / 3], 0, 3));
            const auto value = [&l](size_t Column) { return std::stod(l[Column]); };
            const double share = toneFrames.at(std::stoll(l[2])) / 40.0;
            for (size_t c = 4; c < 12; ++c) // MHz with 6 decimals, dB 2, percent and kHz 3
                EXPECT_TRUE(l[c].empty() ||
                            l[c].size() - l[c].find('.') == size_t("77334473"[c - 4] - '0'));
            if (l[3] == "tone") {
                const double tone = std::pow(10, toneDbm / 10), noise = NoiseDbm(21);
                EXPECT_NEAR(value(6), 10 * std::log10(share * tone + std::pow(10, noise / 10)),
                            0.05);
                EXPECT_NEAR(value(10), OffsetMHz + (inverted ? 40 - BinMHz - toneMHz : toneMHz),
                            0.01 * BinMHz);
                EXPECT_NEAR(value(11), toneDbm + 10 * std::log10(share), 0.05);
                EXPECT_NEAR(value(8), 100.0 * share / 21, 0.0006);
            } else if (l[3] == "comb" && std::string(window) == "rect") {
                EXPECT_NEAR(value(9), 0.99 * 20 * BinMHz * 1000, 0.001 * 20 * BinMHz * 1000);
            } else if (l[3] == "quiet") {
                EXPECT_NEAR(value(7), NoiseDbmHz, 0.3);
                EXPECT_NEAR(value(6), NoiseDbm(280), 0.2);
                EXPECT_LT(value(8), 0.1);
            }
        }
    }
}

// Every band the table cannot measure is refused with one line and exit code 2, and nothing
// is written; the whole spectrum and a band of one bin are taken.
TEST_F(ExportStatsTest, BadBandsAreRefused)
{
    WriteBytes(
        Path("rec.spk"),
        MakeRecordingBytes({.N = 256, .Frames = 2, .Header = "Offsets:       1.250     0.0"}));
    WriteBytes(Path("bands.csv"), "name,low_MHz,high_MHz\nok,2,3\n");
    WriteBytes(Path("bad.csv"), "ok,2,3\nbad,2\n");
    const QStringList stats{Path("rec.spk"), "--fft-exponent", "8", "--stats", Path("s.csv")};
    const std::vector<std::pair<QStringList, const char*>> cases = {
        {{"--band", "low=1.2:3"}, "lies outside the spectrum, 1.250000 .. 41.250000 MHz"},
        {{"--band", "high=40:41.26"}, "lies outside the spectrum"},
        {{"--band", "thin=10:10.156"}, "narrower than a bin (0.156250 MHz"},
        {{"--band", "a,b=10:12"}, "cannot hold a comma"},
        {{"--band", "a=10:12", "--band", "a=13:14"}, "the band name \"a\" is given twice"},
        {{"--bands", Path("bad.csv")}, "bad.csv line 2 needs name,low_MHz,high_MHz"},
        {{"--bands", Path("bands.csv"), "--band", "ok=4:5"}, "\"ok\" is given twice"},
        {{"--occupancy-db", "10"}, "--stats needs --band"},
    };
    for (const auto& [args, text] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        ExpectFailure(RunExport(stats + args), 2, text);
        EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files),
                  (QStringList{"bad.csv", "bands.csv", "rec.spk"}));
    }
    RunOk(stats + QStringList{"--band", "all=1.25:41.25", "--band", "bin=10:10.15625"});
}
