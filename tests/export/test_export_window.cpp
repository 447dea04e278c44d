#include "test_export_support.h"
#include "test_window_support.h"

#include "Unit1Limits.h"

using ExportAgainstWindow = WindowTest;

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
        // The window playing the recording with the same transform (Hamming).
        Start({"DEBUG"});
        Form->BtnPlayback->click();
        Prompts.Names.push_back(file);
        Form->BtnLoadFile->click();
        Form->SEFft->setValue(10);
        Form->SEAvg->setValue(Average);
        Form->RGFenster->setItemIndex(2);
        TLimitTools& l = *Form->Limits;
        Prompts.Names.push_back(limits);
        l.ActLoadLimits->trigger();
        l.SEHoldOff->setValue(0.5);
        Prompts.Names.push_back(windowLog);
        l.CBEventLog->click();
        Form->RBSync->setChecked(true);
        Form->BtnStartStop->click(); // plays to the end
        EXPECT_TRUE(Prompts.Messages.isEmpty()) << Prompts.Messages.join('\n');
        Form.reset();

        RunOk({file, "--limits", limits, "--events", exportLog, "--hold-off-s", "0.5",
               "--fft-exponent", "10", "--window", "hamming", "--average",
               QString::number(Average)});
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
