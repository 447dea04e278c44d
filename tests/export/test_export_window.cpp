#include "test_export_support.h"
#include "test_window_support.h"

#include "Unit1Limits.h"

namespace {

// The window plays a recording and keeps the waterfall slice of every frame.
class ExportAgainstWindow : public WindowTest
{
protected:
    void Load(const QString& File, int Exponent, int Average, int WindowIndex)
    {
        Start({"DEBUG"});
        Form->BtnPlayback->click();
        Prompts.Names.push_back(File);
        Form->BtnLoadFile->click();
        Form->SEFft->setValue(Exponent);
        Form->SEAvg->setValue(Average);
        Form->RGFenster->setItemIndex(WindowIndex);
    }
    std::vector<std::vector<float>> PlayInWindow(const QString& File, int Exponent, int Average,
                                                 int WindowIndex, int BandIndex, int CentreKHz)
    {
        Load(File, Exponent, Average, WindowIndex);
        std::vector<std::vector<float>> slices;
        Form->OnFrameProcessed = [&] { slices.push_back(Form->WaterfallLine); };
        Form->RGBW->setItemIndex(BandIndex);
        Form->SBFrq->setValue(CentreKHz);
        Form->RBSync->setChecked(true);
        Form->BtnStartStop->click(); // plays to the end
        return slices;
    }
};

} // namespace

// Two carriers, one switched on halfway, in an inverted recording with an offset: the
// table holds, frame by frame and bin by bin, exactly the levels the window shows for the
// same settings (averaging over 4, Hamming, a 10 MHz span off centre), and its header the
// frequencies the window labels (offset added, mirrored data, not mirrored labels). The
// same without averaging.
TEST_F(ExportAgainstWindow, CsvLevelsEqualTheWindowsLevels)
{
    const auto stamp = [](int64_t f) {
        return f % 10 == 0 ? quillex::EncodeDateTime(2026, 12, 6, 23, 59, 58) + f / 10 / 86400.0
                           : 0.0;
    };
    const QString file = Dir.filePath("carriers.spk");
    WriteBytes(file, MakeRecordingBytes({.N = 1024,
                                         .Frames = 40,
                                         .Carriers = {{700, 6000.0}, {760, 3000.0, 20}},
                                         .Stamp = stamp,
                                         .Header = "Offsets:      -0.500     2.0"}));

    const auto window = PlayInWindow(file, 10, 4, 2, 1, 12000);
    ASSERT_TRUE(Form->CBInverted->isChecked());

    const QString csv = Dir.filePath("levels.csv");
    const TRun run = RunExport({file, "--csv", csv, "--fft-exponent", "10", "--average", "4",
                                "--window", "hamming", "--span-mhz", "10", "--centre-mhz", "12"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const auto table = ReadCsv(csv);
    // Frame 0 of the file is its header; the window plays records 1 .. 40.
    ASSERT_EQ(window.size(), 40u);
    ASSERT_EQ(table.size(), 1u + 40u);

    const int start = SpanStart(1024, 10, 12000);
    ASSERT_EQ(table[0].size(), 3u + 256u);
    EXPECT_EQ(table[0][0], "time");
    for (int j : {0, 1, 255}) {
        const double mhz = 0.5 + (start + j) * 40.0 / 1024;
        EXPECT_NEAR(std::stod(table[0][size_t(3 + j)]), mhz, 1e-9) << j;
    }
    for (size_t r = 0; r < window.size(); ++r) {
        EXPECT_EQ(table[r + 1][2], std::to_string(r + 1));
        EXPECT_TRUE(RowLevels(table[r + 1]) == window[r]) << "frame " << r + 1;
    }
    // The carriers are where the mirrored spectrum puts them, the second from frame 20 on.
    const auto peakColumn = [&](size_t Row) {
        const auto levels = RowLevels(table[Row]);
        return int(std::max_element(levels.begin(), levels.end()) - levels.begin());
    };
    EXPECT_EQ(peakColumn(5), 1023 - 700 - start);
    const auto late = RowLevels(table[36]);
    EXPECT_GT(late[size_t(1023 - 760 - start)],
              RowLevels(table[6])[size_t(1023 - 760 - start)] + 30);
    // Times: ISO 8601, local time as recorded; frames 10, 20, ... carry a stamp a second
    // apart, the others get a tenth of a second per frame.
    EXPECT_EQ(table[1][0], "2026-12-06T23:59:58.100");
    EXPECT_EQ(table[10][0], "2026-12-06T23:59:59.000"); // frame 10
    EXPECT_EQ(table[20][0], "2026-12-07T00:00:00.000"); // frame 20, past midnight

    // Without averaging (each frame taken to levels by the thread that transforms it):
    // N = 2048, rectangle window, a 5 MHz span around 14 MHz, in a fresh window.
    const auto plain = PlayInWindow(file, 11, 1, 0, 0, 14000);
    ASSERT_EQ(RunExport({file, "--csv", csv, "--fft-exponent", "11", "--window", "rect",
                         "--span-mhz", "5", "--centre-mhz", "14"})
                  .Code,
              0);
    const auto plainTable = ReadCsv(csv);
    ASSERT_EQ(plain.size(), 40u);
    ASSERT_EQ(plainTable.size(), 1u + 40u);
    ASSERT_EQ(plainTable[0].size(), 3u + 256u);
    for (size_t r = 0; r < plain.size(); ++r)
        EXPECT_TRUE(RowLevels(plainTable[r + 1]) == plain[r]) << "frame " << r + 1;
}

// The window's limit alarms and the exporter's limit scan of the same recording list the same
// episodes, line for line: an inverted recording with offsets and sparse stamps, an upper limit
// that is flat and then rises (and stops short of a steady carrier), a lower limit over that
// carrier's bins only. Bursts above the upper limit with a gap shorter and one longer than the
// hold-off, the carrier switched off for a while, and a burst still on when the recording ends.
// The same once more with averaging, where the episodes run on as the averages decay.
TEST_F(ExportAgainstWindow, LimitEpisodesEqualTheWindowsEventLog)
{
    constexpr int N = 1024;
    constexpr double BurstBin = 600.3, CarrierBin = 300;
    const double base = quillex::EncodeDateTime(2026, 12, 6, 9, 30, 0);
    const QString file = Dir.filePath("bursts.spk");
    WriteBytes(file,
               MakeRecordingBytes(
                   {.N = N,
                    .Frames = 60,
                    .Carriers = {{BurstBin, 4000.0, 10, 12},
                                 {BurstBin, 2000.0, 15, 15},
                                 {BurstBin, 1500.0, 30, 31},
                                 {BurstBin, 3000.0, 58, 60},
                                 {CarrierBin, 3000.0, 0, 39},
                                 {CarrierBin, 3000.0, 43}},
                    .Stamp = [&](int64_t f) { return f % 5 == 0 ? base + f * 0.1 / 86400 : 0.0; },
                    .Header = "Offsets:      -0.500     2.0"}));
    // Displayed (mirrored, offset 0.5 MHz): the burst at 17.01 MHz, the carrier at 28.74 MHz.
    const QString limits = Dir.filePath("limits.csv");
    WriteBytes(limits, "MHz,upper_dBm,lower_dBm\n5,-45,\n20,-30,\n21,,\n"
                       "28.70,,-40\n28.78,,-40\n28.82,,\n");

    const auto run = [&](int Average, const char* Name) {
        SCOPED_TRACE(Name);
        const QString windowLog = Dir.filePath(QStringLiteral("window_%1.csv").arg(Name));
        const QString exportLog = Dir.filePath(QStringLiteral("export_%1.csv").arg(Name));
        Load(file, 10, Average, 2);
        TLimitTools& l = *Form->Limits;
        Prompts.Names.push_back(limits);
        l.ActLoadLimits->trigger();
        l.SEHoldOff->setValue(0.5);
        Prompts.Names.push_back(windowLog);
        l.CBEventLog->click();
        EXPECT_TRUE(l.CBEventLog->isChecked());
        Form->RBSync->setChecked(true);
        Form->BtnStartStop->click(); // plays to the end
        EXPECT_TRUE(Prompts.Messages.isEmpty()) << Prompts.Messages.join('\n');
        Form.reset();

        const TRun exported = RunExport({file, "--limits", limits, "--events", exportLog,
                                         "--hold-off-s", "0.5", "--fft-exponent", "10", "--window",
                                         "hamming", "--average", QString::number(Average)});
        EXPECT_EQ(exported.Code, 0) << exported.Err.toStdString();
        const QString fromWindow = QString::fromUtf8(ReadAll(windowLog));
        EXPECT_EQ(fromWindow, QString::fromUtf8(ReadAll(exportLog)));
        return fromWindow.split('\n', Qt::SkipEmptyParts);
    };

    // Without averaging each burst is beyond the limit exactly while it is on: frames 10-15
    // (the gap of 0.2 s is within the hold-off), 30-31, the carrier's absence 40-42 and the
    // last burst 58-60, ended by the recording's end. Averaging over 2 halves a burst's
    // magnitude each frame after it (6 dB a frame): the first episode runs on to frame 17,
    // the second to 32, and the carrier's average never falls the 40 dB to the lower limit.
    using TFrames = std::vector<std::pair<int, int>>;
    for (const auto& [average, frames] :
         {std::pair{1, TFrames{{10, 15}, {30, 31}, {40, 42}, {58, 60}}},
          std::pair{2, TFrames{{10, 17}, {30, 32}, {58, 60}}}}) {
        const QStringList lines = run(average, average == 1 ? "plain" : "averaged");
        ASSERT_EQ(lines.size(), 1 + qsizetype(frames.size())) << lines.join('\n');
        for (size_t e = 0; e < frames.size(); ++e) {
            const QStringList fields = lines[qsizetype(e) + 1].split(',');
            EXPECT_EQ(std::make_pair(fields[2].toInt(), fields[3].toInt()), frames[e]) << e;
        }
    }
}
