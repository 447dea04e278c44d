#include "test_export_support.h"
#include "test_window_support.h"

namespace {

// The window plays a recording and keeps the waterfall slice of every frame.
class ExportAgainstWindow : public WindowTest
{
protected:
    std::vector<std::vector<float>> PlayInWindow(const QString& File, int Exponent, int Average,
                                                 int WindowIndex, int BandIndex, int CentreKHz)
    {
        Start({"DEBUG"});
        std::vector<std::vector<float>> slices;
        Form->OnFrameProcessed = [&] { slices.push_back(Form->WaterfallLine); };
        Form->BtnPlayback->click();
        Prompts.Names.push_back(File);
        Form->BtnLoadFile->click();
        Form->SEFft->setValue(Exponent);
        Form->SEAvg->setValue(Average);
        Form->RGFenster->setItemIndex(WindowIndex);
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
