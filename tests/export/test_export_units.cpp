#include "test_export_support.h"

#include "ExportError.h"
#include "ExportOptions.h"
#include "ImageLayout.h"
#include "OutputFile.h"

#include <cctype>
#include <map>
#include <mutex>
#include <tuple>

using namespace quillex;

// Ticks sit on the column of their bin, the step is the smallest whose labels keep
// apart, and the labels carry the offset with the decimals the window would use.
TEST(ExportLayout, FrequencyTicks)
{
    const auto width = [](const std::string& S) { return int(S.size()) * 7; };
    const auto fixed = [](int W) { return [W](const std::string&) { return W; }; };
    // 4096 bins over 40 MHz: 0.1024 pixels per kHz; "40.0" is 28 pixels, so with a gap of
    // 12 a tick needs 40 pixels: 500 kHz (51 pixels) is the smallest step that fits.
    TSpan full{4096, 0, 4096};
    auto ticks = FrequencyTicks(full, 0.0, width, 12);
    ASSERT_EQ(ticks.size(), 80u); // 0 .. 39500 kHz; 40000 lies past the last bin
    // 500 * 4096 / 40000 = 51.2, truncated
    EXPECT_EQ(std::make_pair(ticks[1].X, ticks[1].Text), std::make_pair(51, std::string("0.5")));
    EXPECT_EQ(ticks[79].X, 4044);

    // Every label of a step must fit, not only the first: labels from 10 MHz on are wide
    // (30 pixels), so 200 kHz (20 pixels) and 250 kHz (25) fail on them and 500 kHz is
    // chosen again. Steps that fail stop being measured at their first misfit.
    int measured = 0;
    const auto wideFromTen = [&](const std::string& S) {
        ++measured;
        return std::stod(S) >= 10.0 ? 30 : 1;
    };
    ticks = FrequencyTicks(full, 0.0, wideFromTen, 12);
    EXPECT_EQ(ticks.size(), 80u);
    EXPECT_LT(measured, 1000); // the 10 kHz step alone has 4000 labels
    // A label and its gap exactly as wide as the step's 51 pixels still fit.
    EXPECT_EQ(FrequencyTicks(full, 0.0, fixed(39), 12).size(), 80u);

    // 256 bins over 40 MHz: 6.4 pixels per MHz; a label of 28 pixels and its gap need 40, so
    // 5 MHz (32 pixels) is too close and 10 MHz (64) the step.
    ticks = FrequencyTicks(TSpan{256, 0, 256}, 0.0, width, 12);
    ASSERT_EQ(ticks.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(std::make_pair(ticks[i].X, ticks[i].Text),
                  std::make_pair(int(64 * i), std::to_string(10 * i) + ".0"));

    // 512 bins from bin 1000 (9765.625 kHz): offset 0.25 needs three decimals, so a label
    // is 42 + 12 pixels and the step 1000 kHz; the first tick is the first multiple of it
    // inside the span, on the column of bin 1024.
    TSpan narrow{4096, 1000, 512};
    ticks = FrequencyTicks(narrow, 0.25, width, 12);
    ASSERT_EQ(ticks.size(), 5u); // 10 .. 14 MHz
    EXPECT_EQ(std::make_pair(ticks[0].X, ticks[0].Text), std::make_pair(24, std::string("10.250")));
    EXPECT_EQ(ticks[1].X, 126); // 11000 * 4096 / 40000 - 1000 = 126.4
    // A label shows one decimal more than the offset needs: whole, tenths, finer.
    for (const auto& [offset, decimals] :
         {std::pair{2.0, 1}, {0.5, 2}, {0.9, 2}, {1.8, 2}, {0.45, 3}})
        EXPECT_EQ(FrequencyDecimals(offset, 1000), decimals) << offset;
    EXPECT_EQ(FrequencyDecimals(0.0, 25), 3);
    // Each step of the series 10, 20, 25, 50 kHz ... 20 MHz is taken where it is the smallest
    // that fits: at a pixel a kHz, with a gap as wide as the step.
    for (const int step :
         {10, 20, 25, 50, 100, 200, 250, 500, 1000, 2000, 2500, 5000, 10000, 20000}) {
        ticks = FrequencyTicks(TSpan{40000, 0, 40000}, 0.0, fixed(0), step);
        ASSERT_GE(ticks.size(), 2u) << step;
        EXPECT_EQ(ticks[1].X - ticks[0].X, step);
    }
}

// Labels keep apart, and the date shows on the first label and the first one shown after
// the date changes, even when the label at midnight itself had to be left out. A label
// that would reach below the bottom limit (the frequency axis's unit) moves up to end
// there, and is left out when that brings it too close to the one above.
TEST(ExportLayout, TimeLabels)
{
    const double day = EncodeDateTime(2026, 12, 6, 23, 59, 58);
    const auto second = [&](double S) { return day + S / 86400.0; };
    const auto place = [](const std::vector<std::pair<int64_t, double>>& Stamps, int64_t Bottom) {
        std::vector<std::tuple<int64_t, int64_t, bool>> shown;
        for (const auto& l : PlaceTimeLabels(Stamps, 12, 3, Bottom))
            shown.emplace_back(l.Row, l.Top, l.ShowDate);
        return shown;
    };
    using TShown = std::vector<std::tuple<int64_t, int64_t, bool>>;
    // Line height 12, gap 3: a label spans row - 6 .. row + 6 (+12 with a date). 81 rows,
    // the unit 6 rows below the last: the last label ends at 86, just above it.
    const std::vector<std::pair<int64_t, double>> stamps = {
        {0, day},        {20, second(1)}, {34, second(1.5)}, {40, second(2)},
        {52, second(3)}, {70, second(4)}, {80, second(5)}};
    EXPECT_EQ(place(stamps, 87),
              (TShown{{0, -6, true}, {34, 28, false}, {52, 46, true}, {80, 74, false}}));
    // Dated at the last row: 24 high, it ends at the limit.
    EXPECT_EQ(place({{0, day}, {80, second(3)}}, 87), (TShown{{0, -6, true}, {80, 63, true}}));
    // An image of three rows: the first label with its date ends at 9 instead of 18.
    EXPECT_EQ(place({{0, day}, {2, second(3)}}, 9), (TShown{{0, -15, true}}));
    // Moved up closer than the gap to the one above (which ends at 18), a label is left out.
    EXPECT_EQ(place({{0, day}, {30, second(1)}}, 33), (TShown{{0, -6, true}, {30, 21, false}}));
    EXPECT_EQ(place({{0, day}, {30, second(1)}}, 32), (TShown{{0, -6, true}}));
    EXPECT_EQ(OutputRowCount(1, 45, 10), 5);
    EXPECT_EQ(OutputRowCount(0, 39, 10), 4);
}

// Each ranged option takes both ends of the range --help gives and refuses a step beyond
// either, saying so; the centre's range is the span's.
TEST(ExportOptions, RangesEndWhereTheHelpSays)
{
    const auto refusal = [](const std::vector<std::string>& Args) -> std::string {
        std::vector<std::string> all{"in.spk",   "--csv", "out.csv",  "--peaks", "p.csv",
                                     "--limits", "l.csv", "--events", "e.csv"};
        all.insert(all.end(), Args.begin(), Args.end());
        try {
            ParseExportArguments(all);
            return "";
        } catch (const TExportError& e) {
            EXPECT_EQ(e.Code(), TExitCode::Usage);
            return e.what();
        }
    };
    struct TRange
    {
        std::vector<std::string> Option; // and what it needs beside it
        const char *Lo, *Hi, *BelowLo, *AboveHi;
    };
    for (const TRange& r :
         {TRange{{"--fft-exponent"}, "8", "12", "7", "13"},
          TRange{{"--average"}, "1", "64", "0", "65"},
          TRange{{"--fold"}, "1", "100000000", "0", "100000001"},
          TRange{{"--threads"}, "1", "64", "0", "65"},
          TRange{{"--peak-count"}, "1", "100", "0", "101"},
          TRange{{"--peak-min-dbm"}, "-200", "100", "-200.5", "100.5"},
          TRange{{"--min-dbm"}, "-200", "100", "-200.5", "100.5"},
          TRange{{"--max-dbm"}, "-200", "100", "-200.5", "100.5"},
          TRange{{"--hold-off-s"}, "0", "86400", "-0.5", "86400.5"},
          TRange{{"--span-mhz", "5", "--centre-mhz"}, "2.5", "37.5", "2.499", "37.501"},
          TRange{{"--span-mhz", "20", "--centre-mhz"}, "10", "30", "9.999", "30.001"}}) {
        for (const char* value : {r.Lo, r.Hi, r.BelowLo, r.AboveHi}) {
            std::vector<std::string> args = r.Option;
            args.push_back(value);
            const std::string said = refusal(args);
            SCOPED_TRACE(args.back() + ": " + said);
            const bool inside = value == r.Lo || value == r.Hi;
            EXPECT_EQ(said.find("out of range") == std::string::npos, inside);
            EXPECT_TRUE(said.empty() || said.find(r.Option.back()) != std::string::npos);
        }
    }
    // Numbers are written the C way whatever the locale, a sign allowed on decimals; whole
    // numbers are digits alone. Anything else is refused as no number.
    for (const auto& [option, value, taken] : {std::tuple{"--centre-mhz", "+20", true},
                                               {"--centre-mhz", "20.000", true},
                                               {"--min-dbm", "-1e2", true},
                                               {"--min-dbm", "nan", false},
                                               {"--max-dbm", "inf", false},
                                               {"--centre-mhz", "20,5", false},
                                               {"--centre-mhz", "", false},
                                               {"--centre-mhz", "+", false},
                                               {"--min-dbm", " -90", false},
                                               {"--fold", "+2", false},
                                               {"--fold", "2.0", false},
                                               {"--fold", "", false},
                                               {"--average", "0x10", false},
                                               {"--centre-mhz", "1e999", false},
                                               {"--min-dbm", "-1e999", false}}) {
        const std::string said = refusal({option, value});
        EXPECT_EQ(said.empty(), taken) << option << " " << value << ": " << said;
        EXPECT_TRUE(taken || said.find("needs a") != std::string::npos) << said;
    }
}

namespace {

using ExportPipeline = ExportFolderTest;
using ExportOutputDeathTest = ExportFolderTest;

// Resident kilobytes of this process's mapping of Path (0 when it has none).
long MappedKilobytes(const std::string& Path)
{
    std::ifstream smaps("/proc/self/smaps");
    bool inMapping = false;
    long total = 0;
    for (std::string line; std::getline(smaps, line);) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find(' ') < line.find(':'))
            inMapping = line.size() >= Path.size() &&
                        line.compare(line.size() - Path.size(), Path.size(), Path) == 0;
        else if (inMapping && line.rfind("Rss:", 0) == 0)
            total += std::stol(line.substr(4));
    }
    return total;
}

} // namespace

// Every row holds what its frames give one by one on a single thread: long enough for
// several batches and started off a row boundary, whole rows done by one thread or parts of
// rows combined, averaged or not, max or mean, read mapped or copied, mirrored or not. With
// a margin, rows keep the fold of their magnitudes over the span and the bins beyond it (cut
// at the spectrum's ends, or across the averages' ranges of 512 bins), and their levels are
// the span's of the whole spectrum's rows. Measuring every frame as well, each gets its
// averages of all N bins, as the window's running average leaves them, the results come
// back in frame order, every row is measured once, and the rows stay the same. The
// recording is read where it is mapped, but the pages it is done with are given back as it
// goes: the process never holds more than a batch or two of a long file.
TEST_F(ExportPipeline, RowsHoldWhatTheirFramesGiveOneByOne)
{
    const std::string path = Path("long.spk").toStdString();
    const int64_t frames = 2600;
    const auto stamp = [](int64_t f) { return f % 97 == 5 ? 46000.0 + double(f) / 86400 : 0.0; };
    const std::string bytes = MakeRecordingBytes({.N = 256,
                                                  .Frames = frames,
                                                  .Carriers = {{40, 1000.0},
                                                               {90, 8000.0, 1500, 1500},
                                                               {5.1, 3000, 0, 300},
                                                               {132.65, 2000, 100, 180}},
                                                  .Stamp = stamp});
    WriteBytes(QString::fromStdString(path), bytes);
    TSpkRecordFile mapped, copied;
    mapped.Open(path);
    copied.Open(path, false);
    ASSERT_TRUE(mapped.Mapped());

    struct TCase
    {
        int Exponent, Average;
        int64_t Fold;
        TFoldMode Mode;
        int64_t First, Last;
        bool Mapped = true, Inverted = false;
        int CentreKHz = 0; // of a 5 MHz span with margins as well, when not 0
    };
    // A last batch of 45 rows unfolded and 61 rows of five in the 301 frames.
    for (const TCase& c :
         {TCase{8, 1, 20, TFoldMode::Max, 5, 2599}, TCase{8, 1, 20, TFoldMode::Max, 5, 2599, false},
          TCase{8, 1, 45, TFoldMode::Max, 5, 2599}, TCase{8, 1, 700, TFoldMode::Mean, 3, 2599},
          TCase{8, 3, 7, TFoldMode::Max, 5, 2599}, TCase{8, 3, 1, TFoldMode::Max, 0, 2599},
          TCase{10, 1, 1, TFoldMode::Max, 0, 300, true, false, 3000},
          TCase{10, 1, 5, TFoldMode::Mean, 0, 300, true, true, 20000},
          TCase{10, 1, 40, TFoldMode::Max, 0, 300, true, true, 3000},
          TCase{10, 3, 7, TFoldMode::Mean, 0, 300, true, false, 20000},
          TCase{10, 3, 7, TFoldMode::Max, 0, 300, true, true, 3000}}) {
        SCOPED_TRACE(testing::Message()
                     << "exponent " << c.Exponent << ", average " << c.Average << ", fold "
                     << c.Fold << ", mapped " << c.Mapped << ", mirrored " << c.Inverted
                     << ", centre " << c.CentreKHz);
        const int n = 1 << c.Exponent;
        const int64_t count = c.Last - c.First + 1;
        const TPipelineSettings one{
            .Spectrum = {.Exponent = c.Exponent, .Average = c.Average, .Inverted = c.Inverted},
            .First = c.First,
            .Last = c.Last};
        long most = 0;
        int64_t done = 0; // frames, as progress counts them
        TPipelineOutput watched;
        watched.Progress = [&](int64_t Done) {
            EXPECT_GT(Done, done);
            done = Done;
            most = std::max(most, MappedKilobytes(path));
        };
        const auto single = CollectRows(mapped, one, watched);
        ASSERT_EQ(int64_t(single.size()), count);
        EXPECT_EQ(done, count);
        if (count > 2000) { // a long file
            EXPECT_LT(most, long(frames) * FrameRecordSize / 1024 / 4);
        }
        // Frame by frame, the levels of the window's averages (from zeros at the first frame):
        // 20 log10(m / 16384 + 1e-9), column k from bin N-1-k when mirrored.
        std::vector<std::vector<float>> averages;
        WindowAverages(bytes, c.First, count, c.Exponent, c.Average, [&](int64_t F, const auto& A) {
            averages.push_back(A);
            for (size_t k = 0; k < A.size(); ++k)
                ASSERT_NEAR(single[size_t(F - c.First)].Levels[k],
                            20 * std::log10(A[c.Inverted ? A.size() - 1 - k : k] / 16384.0 + 1e-9),
                            0.002)
                    << "frame " << F << ", bin " << k;
        });

        TPipelineSettings folded = one;
        folded.Fold = c.Fold;
        folded.FoldMode = c.Mode;
        folded.Threads = 2;
        folded.RowMagnitudes = c.CentreKHz != 0;
        const auto rows = CollectRows(c.Mapped ? mapped : copied, folded);
        ASSERT_EQ(int64_t(rows.size()), (count + c.Fold - 1) / c.Fold);
        for (size_t r = 0; r < rows.size(); ++r) {
            const TOutputRow& row = rows[r].Row;
            const int64_t first = c.First + int64_t(r) * c.Fold;
            const int64_t m = std::min(c.Fold, c.Last + 1 - first);
            ASSERT_EQ(std::make_tuple(row.Index, row.FirstFrame, row.Frames),
                      std::make_tuple(int64_t(r), first, m));
            double firstStamp = 0;
            for (int64_t f = first; f < first + m && firstStamp == 0; ++f)
                firstStamp = stamp(f);
            ASSERT_EQ(row.Stamp, firstStamp) << "row " << r;
            for (size_t k = 0; k < rows[r].Levels.size(); ++k) {
                float highest = -1e9f;
                double magnitude = 0;
                for (int64_t f = first; f < first + m; ++f) {
                    const float level = single[size_t(f - c.First)].Levels[k];
                    highest = std::max(highest, level);
                    magnitude += std::pow(10.0, level / 20.0) / double(m);
                }
                ASSERT_NEAR(rows[r].Levels[k],
                            c.Mode == TFoldMode::Max ? highest : 20 * std::log10(magnitude),
                            c.Mode == TFoldMode::Max ? 1e-4 : 0.01)
                    << "row " << r << ", bin " << k;
            }
        }
        if (c.CentreKHz == 0)
            continue;

        ASSERT_EQ(std::make_pair(rows[0].Row.MagnitudeFirstBin, rows[0].Row.MagnitudeBins),
                  std::make_pair(0, n));
        // 5 MHz, 128 bins: around 3 MHz from bin 13, the margin cut at an end of the
        // spectrum; around 20 MHz from bin 448, across the averages' ranges of 512 bins.
        TPipelineSettings span = folded;
        span.Spectrum.SpanMHz = 5;
        span.Spectrum.CentreKHz = c.CentreKHz;
        span.MarginBins = 32;
        const int start = SpanStart(n, 5, c.CentreKHz);
        const int physical = c.Inverted ? n - start - 128 : start;
        const int first = std::max(0, physical - 32);
        const int bins = std::min(n, physical + 128 + 32) - first;
        std::vector<int64_t> order;
        TPipelineOutput measured;
        measured.MeasureFrame = [&](int, int64_t Frame, const float* M, std::byte* Result) {
            EXPECT_TRUE(std::equal(M, M + n, averages[size_t(Frame - c.First)].begin()))
                << "frame " << Frame;
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
        std::mutex lock;
        std::map<int64_t, int> rowsMeasured; // how often each row was
        measured.MeasureRow = [&](int, const TOutputRow& Row, std::byte*) {
            const std::lock_guard<std::mutex> hold(lock);
            ++rowsMeasured[Row.Index];
        };
        for (const bool measure : {false, true}) {
            SCOPED_TRACE(measure ? "every frame and row measured" : "rows only");
            const auto spanRows = CollectRows(mapped, span, measure ? measured : TPipelineOutput{});
            ASSERT_EQ(spanRows.size(), rows.size());
            EXPECT_EQ(rowsMeasured.size(), measure ? rows.size() : 0u);
            for (const auto& [row, times] : rowsMeasured)
                EXPECT_EQ(times, 1) << "row " << row;
            for (size_t r = 0; r < rows.size(); ++r) {
                ASSERT_EQ(std::make_pair(spanRows[r].Row.MagnitudeFirstBin,
                                         spanRows[r].Row.MagnitudeBins),
                          std::make_pair(first, bins));
                ASSERT_TRUE(std::equal(spanRows[r].Magnitudes.begin(), spanRows[r].Magnitudes.end(),
                                       rows[r].Magnitudes.begin() + first))
                    << "row " << r;
                ASSERT_TRUE(std::equal(spanRows[r].Levels.begin(), spanRows[r].Levels.end(),
                                       rows[r].Levels.begin() + start))
                    << "row " << r;
            }
        }
        EXPECT_EQ(order.size(), size_t(count));
    }
    // It is the mapping that is measured: read whole, it is resident.
    mapped.MappedRecords(0, frames);
    EXPECT_GT(MappedKilobytes(path), long(frames) * FrameRecordSize / 1024 * 9 / 10);
}

// A mapped recording cut short between the check of its pages and their read faults;
// the export then ends with the input file's exit code (3) and a message, and leaves no
// output behind, as on an interrupt.
TEST_F(ExportOutputDeathTest, ReadFaultOnACutRecordingRemovesOutputsAndSaysWhy)
{
    // Forked, not run again, so that the child writes into this test's folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    const std::string recording = Path("cut.spk").toStdString();
    const std::string target = Path("out.png").toStdString();
    std::ofstream(recording, std::ios::binary).close();
    std::filesystem::resize_file(recording, 20 * FrameRecordSize);
    EXPECT_EXIT(
        {
            RemoveOutputsOnInterrupt();
            TOutputFile out(target);
            std::fputs("part of an image", out.Stream());
            std::fflush(out.Stream());
            TSpkRecordFile file;
            file.Open(recording);
            const volatile uint8_t* last = file.MappedRecords(19, 1);
            std::filesystem::resize_file(recording, FrameRecordSize);
            const uint8_t byte = last[0];
            std::fprintf(stderr, "read %d without a fault\n", byte);
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "recording could not be read any more");
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("cut.spk")});
}
