#include "test_window_support.h"

#include <QTest>
#include <set>

#include "LimitCurve.h"
#include "test_file_support.h"

namespace {

constexpr double FreqOffset = 0.5, LevelOffset = 10.0;
constexpr int Frames = 45; // records 1..45 behind the header, 0.1 s apart
const double Base = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 0);

// A burst at 14.25043 MHz and a 12 MHz carrier over a fixed noise floor.
std::vector<int16_t> Block(double BurstAmplitude, double CarrierAmplitude = 20)
{
    std::mt19937 rng(5); // the same floor in every frame
    return ToneBlock({{12.0, CarrierAmplitude, 0}, {14.25043, BurstAmplitude}}, 3.0, &rng);
}

// Bursts: frames 11-13 and 18 (a gap shorter than the 1 s hold-off), then 41-42.
double BurstAt(int Frame)
{
    static const std::map<int, double> bursts{{11, 1000}, {12, 3000}, {13, 2000},
                                              {18, 1500}, {41, 800},  {42, 900}};
    return bursts.count(Frame) ? bursts.at(Frame) : 0.0;
}

double StampOf(int Frame)
{
    return Base + Frame * 0.1 / 86400.0;
}

QString IsoText(int Frame)
{
    return QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0))
        .addMSecs(Frame * 100)
        .toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"));
}

class LimitTest : public WindowTest
{
protected:
    TLimitTools& L() const { return *Form->Limits; }

    // Header, then Frames records stamped 0.1 s apart; Burst false keeps every frame quiet.
    void Write(const QString& File, bool Burst)
    {
        WriteBlocks(File, [Burst](int F) { return Block(Burst ? BurstAt(F) : 0); });
    }
    void WriteBlocks(const QString& File, const std::function<std::vector<int16_t>(int)>& Of)
    {
        std::vector<std::vector<int16_t>> blocks;
        for (int f = 1; f <= Frames; ++f)
            blocks.push_back(Of(f));
        WriteRecording(File, blocks, THeader{FreqOffset, LevelOffset}, StampOf);
    }

    // The upper limit 6 dB over the quiet trace.
    void UpperFromQuietTrace()
    {
        Write(Path("quiet.spk"), false);
        PlayToEnd(Path("quiet.spk"));
        L().ActUpperFromTrace->trigger();
    }

    void LogTo(const QString& File)
    {
        Prompts.Names.push_back(File);
        L().CBEventLog->click();
        ASSERT_TRUE(L().CBEventLog->isChecked());
    }

    void RecordTo(const QString& Folder, double Pre, double Post)
    {
        QDir().mkpath(Folder);
        L().SEPreSeconds->setValue(Pre);
        L().SEPostSeconds->setValue(Post);
        Prompts.Names.push_back(Folder);
        L().CBRecordOnAlarm->click();
        ASSERT_TRUE(L().CBRecordOnAlarm->isChecked());
    }
};

// The burst's worst point as the log writes it: interpolated frequency, its level and its excess
// over the curve there.
void ExpectWorst(const QStringList& Fields, double Amplitude, double CurveDbm)
{
    const double mhz = FreqOffset + 14.25043, dbm = OnBinDbm(Amplitude) + LevelOffset;
    EXPECT_NEAR(Fields.value(5).toDouble(), mhz, 0.0002);
    EXPECT_NEAR(Fields.value(6).toDouble(), dbm, 0.02);
    EXPECT_NEAR(Fields.value(7).toDouble(), dbm - CurveDbm, 0.05);
}

} // namespace

// A limit made from the trace lies its offset above (below) it at every bin's frequency. While the
// max (min) hold is shown, that side follows the hold, not the last frame.
TEST_F(LimitTest, LimitFromTheTraceOrTheHolds)
{
    StartDebug4096();
    // Refused with a status text: a limit from the trace before a frame, a level beyond
    // -300..+100 dBm.
    Prompts.Numbers = {100.5};
    for (const auto& [action, status] :
         {std::pair{L().ActUpperFromTrace, "no trace yet: start a run or play a recording first"},
          {L().ActFlatLimit, "a limit lies between -300 and +100 dBm"}}) {
        action->trigger();
        EXPECT_TRUE(L().Limits().Upper.Empty());
        EXPECT_EQ(Form->StatusBar->currentMessage(), status);
    }
    L().SEUpperOffset->setValue(7.5);
    L().SELowerOffset->setValue(3);
    Form->Histo->setMode(modeLowerRef); // has no say for these
    // The last frame neither the highest nor the lowest at the burst's bin.
    WriteBlocks(Path("bursts.spk"), [](int F) {
        return Block(F == 20 ? 3000 : F == 45 ? 1000 : 0);
    });
    const int burst = int(14.25043 / BinMHz);
    const auto mhz = [](int Bin) { return FreqOffset + Bin * BinMHz; };
    for (const int hold : {0, 1, 2}) {
        SCOPED_TRACE(hold == 1 ? "max hold" : hold == 2 ? "min hold" : "no hold");
        Form->Measure->CBMaxHold->setChecked(hold == 1);
        Form->Measure->CBMinHold->setChecked(hold == 2);
        std::vector<float> levels;
        PlayToEnd(Path("bursts.spk"),
                  [&] { levels.push_back(Form->Recipe.Levels()[size_t(burst)]); });
        ASSERT_EQ(levels.size(), size_t(Frames));
        L().ActUpperFromTrace->trigger();
        L().ActLowerFromTrace->trigger();
        const double high = *std::max_element(levels.begin(), levels.end()) + LevelOffset;
        const double low = *std::min_element(levels.begin(), levels.end()) + LevelOffset;
        const double last = levels.back() + LevelOffset;
        ASSERT_TRUE(high > last + 6 && low < last - 6);
        EXPECT_NEAR(L().Limits().Upper.LevelAt(mhz(burst)), (hold == 1 ? high : last) + 7.5, 2e-3);
        EXPECT_NEAR(L().Limits().Lower.LevelAt(mhz(burst)), (hold == 2 ? low : last) - 3, 2e-3);
        if (hold == 0)
            for (int d : {0, 1, 1228, 1229, 2000, N - 1}) {
                const double level = Form->Recipe.Levels()[size_t(d)] + LevelOffset;
                EXPECT_NEAR(L().Limits().Upper.LevelAt(mhz(d)), level + 7.5, 1e-3) << d;
                EXPECT_NEAR(L().Limits().Lower.LevelAt(mhz(d)), level - 3, 1e-3) << d;
            }
    }
}

// Bursts above a flat limit give two episodes (a gap shorter than the hold-off joins, a longer one
// parts), logged with their frames, times and worst points, shown in the status bar, the trace's
// warning colour and the waterfall's margin while they last.
TEST_F(LimitTest, EpisodesOfBurstsOverAFlatLimit)
{
    StartDebug4096();
    Write(Path("quiet.spk"), false);
    PlayToEnd(Path("quiet.spk")); // the recording's offsets in force
    Prompts.Numbers.push_back(-30.0);
    L().ActFlatLimit->trigger();
    // Offered: a level a quarter down the plot's scale (-140 to 0 dBm as displayed).
    EXPECT_EQ(Prompts.Questions.back(), "Upper limit (dBm):");
    EXPECT_EQ(Prompts.Offered, std::vector<double>{-35});
    LogTo(Path("events.csv"));

    Write(Path("bursts.spk"), true);
    QMap<int64_t, QString> status;
    QMap<int64_t, int> warning;
    int misplaced = 0; // warning bins other than the level beyond the limit, the limit beside
    PlayToEnd(Path("bursts.spk"), [&] {
        status[Form->PlaybackRecord] = Form->StatusText(0);
        const auto& series = Form->Histo->SeriesRecord(TLimitTools::WarningSeries);
        warning[Form->PlaybackRecord] =
            Form->Histo->SeriesNumber() >= TLimitTools::WarningSeries ? series.Count : 0;
        const auto& live = Form->Histo->SeriesRecord(1);
        const auto beyond = [&](int D) {
            return D >= 0 && D < live.Count && live.Data[D] + LevelOffset > -30.0f;
        };
        for (int d = 0; d < warning[Form->PlaybackRecord]; ++d) {
            const float want = beyond(d)                        ? live.Data[d]
                               : beyond(d - 1) || beyond(d + 1) ? -30.0f - float(LevelOffset)
                                                                : NAN;
            misplaced += std::isnan(want) ? !std::isnan(series.Data[d]) : series.Data[d] != want;
        }
    });
    EXPECT_EQ(misplaced, 0);

    const QStringList log = Lines(Path("events.csv"));
    ASSERT_EQ(log.size(), 3) << log.join('\n');
    EXPECT_EQ(log[0], "start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB");
    const double burstMHz = FreqOffset + 14.25043;
    for (const auto& [line, first, last, worst] :
         {std::tuple{1, 11, 18, 3000.0}, std::tuple{2, 41, 42, 900.0}}) {
        const QStringList fields = log[line].split(',');
        ASSERT_EQ(fields.size(), 8);
        EXPECT_EQ(fields.mid(0, 5),
                  QStringList({IsoText(first), IsoText(last), QString::number(first),
                               QString::number(last), "upper"}));
        ExpectWorst(fields, worst, -30.0);
    }

    // The status panel: the worst so far while an episode is open (it ends once the hold-off has
    // passed, at frame 28, 1 s after frame 18), the FFT's text again after.
    const double worst = OnBinDbm(3000) + LevelOffset + 30.0;
    EXPECT_EQ(status[12], QString::asprintf("LIMIT %+.1f dB @ %.4f MHz", worst, burstMHz));
    EXPECT_EQ(status[27], status[12]);
    EXPECT_EQ(status[28], Form->FftStatusText());
    EXPECT_TRUE(status[41].startsWith("LIMIT +")) << status[41];
    // Warning colour on the frames beyond the limit only.
    for (int f = 1; f <= Frames; ++f)
        EXPECT_EQ(warning[f] > 0, BurstAt(f) > 0) << f;
    // A mark in the waterfall's margin where each episode starts.
    int marks = 0;
    for (const auto& mark : Form->Spektro->Marks())
        marks += mark.Label == "upper limit";
    EXPECT_EQ(marks, 2);
}

// A lower limit over the 12 MHz carrier's two bins only: the carrier gone (frames 5-8) is a lower
// episode, whose status shows how far below the limit the worst bin is, with a minus sign. A burst
// above the upper limit meanwhile (frame 7) is an episode of its own; the status keeps the larger
// excess of the two, and the log has each with its own frames.
TEST_F(LimitTest, LowerEpisodeBesideAnUpperOne)
{
    StartDebug4096();
    const auto block = [](int F) { return Block(F == 7 ? 3000 : 0, F >= 5 && F <= 8 ? 0 : 20); };
    WriteBlocks(Path("gap.spk"), block);
    std::ofstream(Path("limits.csv").toStdString())
        << "MHz,upper_dBm,lower_dBm\n12.40,-30,\n12.49,-30,-60\n12.51,-30,-"
           "60\n12.60,-30,\n";
    Prompts.Names.push_back(Path("limits.csv"));
    L().ActLoadLimits->trigger();
    LogTo(Path("events.csv"));
    QMap<int64_t, QString> status;
    QMap<int64_t, std::vector<float>> levels;
    PlayToEnd(Path("gap.spk"), [&] {
        status[Form->PlaybackRecord] = Form->StatusText(0);
        levels[Form->PlaybackRecord].assign(Form->Recipe.Levels(), Form->Recipe.Levels() + N);
    });

    // The bins from 12.49 to 12.51 MHz as displayed (two of 9.8 kHz); the carrier keeps them near
    // -48 dBm.
    const int low = int(std::ceil((12.49 - FreqOffset) / BinMHz));
    const int watched[] = {low, low + 1};
    EXPECT_EQ(status[4], Form->FftStatusText());
    // The lower episode's worst point so far, the lowest watched bin over its frames; the burst's
    // excess (about 25 dB) is less than the gap's (about 40 dB). 1 s after frame 8 is frame 18.
    double worst = HUGE_VAL;
    int worstBin = 0;
    for (int64_t f = 5; f <= 17; ++f) {
        SCOPED_TRACE(f);
        for (const int d : watched)
            if (f <= 8 && levels[f][size_t(d)] < worst)
                worst = levels[f][size_t(d)], worstBin = d;
        const QString text = status[f];
        ASSERT_TRUE(text.startsWith("LIMIT -")) << text;
        EXPECT_NEAR(text.mid(6, text.indexOf(' ', 6) - 6).toDouble(), worst + LevelOffset + 60.0,
                    0.051);
        EXPECT_TRUE(text.endsWith(QString::asprintf("@ %.4f MHz", FreqOffset + worstBin * BinMHz)))
            << text;
    }
    EXPECT_EQ(status[18], Form->FftStatusText());

    const QStringList log = Lines(Path("events.csv"));
    ASSERT_EQ(log.size(), 3) << log.join('\n');
    // In the order they end: the upper one a second after frame 7, the lower after frame 8.
    EXPECT_EQ(log[1].split(',').mid(2, 3), QStringList({"7", "7", "upper"}));
    EXPECT_EQ(log[2].split(',').mid(2, 3), QStringList({"5", "8", "lower"}));
    ExpectWorst(log[1].split(','), 3000, -30.0);
}

// A seek ends the open episodes at the last frame played, as the end of a run does: the episode
// open at frame 12 does not join the burst at 41 after a jump there, and after a jump back from
// 42 to 10 no episode ends before it starts. Loading a large recording without stamps reads none
// for its frames' times.
TEST_F(LimitTest, ASeekEndsTheOpenEpisodes)
{
    StartDebug4096();
    UpperFromQuietTrace();
    LogTo(Path("events.csv"));
    Write(Path("bursts.spk"), true);
    Form->PB->setFixedWidth(460); // 46 records, 10 pixels each
    std::map<int64_t, int> jumps{{12, 410}, {42, 100}};
    PlayToEnd(Path("bursts.spk"), [&] {
        if (jumps.count(Form->PlaybackRecord))
            Form->PBMouseUp(jumps.extract(Form->PlaybackRecord).mapped());
    });
    QStringList frames;
    for (const QString& line : Lines(Path("events.csv")).mid(1))
        frames << line.section(',', 2, 3);
    EXPECT_EQ(frames, QStringList({"11,12", "41,42", "11,18", "41,42"}));
    std::ofstream(Path("large.spk").toStdString()).close();
    std::filesystem::resize_file(Path("large.spk").toStdString(), 100000 * 16392); // sparse
    Load(Path("large.spk"));
    EXPECT_EQ(L().StampsRead(), 0);
}

// Live, frames are numbered from the start of each run (those before a limit existed too) and timed
// by the clock. Clearing the limits ends the open episode once the hold-off has passed, and its
// recording the "After" seconds past its last frame beyond, on the clock that is never set back
// while the wall clock goes back an hour; stopping the run ends them at once.
TEST_F(LimitTest, LiveEpisodesCountFramesFromTheRunsStart)
{
    StartDebug4096();
    LogTo(Path("events.csv"));
    RecordTo(Path("alarms"), 0, 1.5);
    const auto run = [this](int Quiet, int Watched) {
        Form->BtnStartStop->click();
        for (int f = 0; f < Quiet + Watched; ++f) {
            if (f == Quiet) {
                Prompts.Numbers.push_back(-300.0); // every bin above it
                L().ActFlatLimit->trigger();
            }
            Clock.Advance(0.1);
            Form->Timer1Timer();
        }
        EXPECT_TRUE(Form->StatusText(0).startsWith("LIMIT +")) << Form->StatusText(0);
        if (Quiet > 0) { // cleared while running: the episode ends once the
                         // hold-off has passed
            L().ActClearLimits->trigger();
            Clock.Value -= 1.0 / 24;
            for (int f = 0; f < 17; ++f, Clock.Advance(0.1)) {
                Form->Timer1Timer();
                EXPECT_EQ(Form->StatusText(0).startsWith("LIMIT"), f < 10) << f;
            }
        }
        Form->BtnStartStop->click();
        L().ActClearLimits->trigger();
    };
    // From 10:00:00 (the clock's start), each tick 0.1 s later.
    run(2, 4);
    run(0, 3);
    const QStringList log = Lines(Path("events.csv"));
    ASSERT_EQ(log.size(), 3) << log.join('\n');
    EXPECT_EQ(
        log[1].split(',').mid(0, 5),
        QStringList({"2026-12-06T10:00:00.300", "2026-12-06T10:00:00.600", "2", "5", "upper"}));
    EXPECT_EQ(log[2].split(',').mid(2, 3), QStringList({"0", "2", "upper"}));
    // The header, the frames beyond and those 0 to 1.5 s after them: 1 + 4 + 16 and 1 + 3.
    std::multiset<qint64> sizes;
    for (const QFileInfo& file : QDir(Path("alarms")).entryInfoList({"*.spk"}))
        sizes.insert(file.size() / quillex::FrameRecordSize);
    EXPECT_EQ(sizes, (std::multiset<qint64>{4, 21}));
}

// A bend in the upper-reference mode goes into the curve's frequency definition: it stays at its
// frequency through a new FFT size and span. Without a lower curve the lower-reference mode says
// what to do.
TEST_F(LimitTest, BendWrittenBackSurvivesFftSizeAndSpan)
{
    StartDebug4096();
    Prompts.Numbers.push_back(-40.0);
    L().ActFlatLimit->trigger();
    ASSERT_FALSE(L().Limits().Upper.Empty());
    TDXHistograph* histo = Form->Histo;
    Form->RGBW->setItemIndex(3);
    histo->setMode(modeUpperRef);
    const auto& series = histo->SeriesRecord(TLimitTools::UpperSeries);
    ASSERT_EQ(series.Count, N);
    const std::vector<float> before(series.Data, series.Data + N);
    const int x = histo->XToPixel(float(20.0 * 1000)), y = histo->PlotRect().center().y();
    QTest::mousePress(histo, Qt::LeftButton, {}, QPoint(x, y));
    QTest::mouseMove(histo, QPoint(x, y - 40));
    QTest::mouseRelease(histo, Qt::LeftButton, {}, QPoint(x, y - 40));

    const auto& bent = histo->SeriesRecord(TLimitTools::UpperSeries);
    ASSERT_EQ(bent.Count, N);
    int top = 0;
    for (int d = 0; d < N; ++d)
        if (bent.Data[d] - before[size_t(d)] > bent.Data[top] - before[size_t(top)])
            top = d;
    top -= top % 2; // a bin that the half-size FFT has too
    const float raised = bent.Data[top];
    ASSERT_GT(raised, before[size_t(top)] + 5);
    const double mhz = Form->FreqOffset + top * BinMHz;
    EXPECT_NEAR(L().Limits().Upper.LevelAt(mhz), raised + Form->LevelOffset, 1e-3);
    EXPECT_NEAR(L().Limits().Upper.LevelAt(mhz + 10), -40.0, 1e-9);

    Form->SEFft->setValue(11);
    const auto& resampled = histo->SeriesRecord(TLimitTools::UpperSeries);
    ASSERT_EQ(resampled.Count, N / 2);
    EXPECT_NEAR(resampled.Data[top / 2], raised, 1e-3);
    Form->RGBW->setItemIndex(1);
    EXPECT_NEAR(histo->SeriesRecord(TLimitTools::UpperSeries).Data[top / 2], raised, 1e-3);

    histo->setMode(modeLowerRef);
    QTest::mousePress(histo, Qt::LeftButton, {}, QPoint(x, y));
    QTest::mouseRelease(histo, Qt::LeftButton, {}, QPoint(x, y));
    EXPECT_EQ(Form->StatusBar->currentMessage(), "no lower limit: make one from the trace first");
    EXPECT_EQ(histo->Mode(), modeMeasure);
}

// Saved limits load back the same; a file that does not parse gets one message naming the line and
// changes nothing. The last file is remembered in the settings and loaded at start-up; one that has
// gone gives one message and no curves.
TEST_F(LimitTest, SaveLoadAndTheSettingsKey)
{
    StartDebug4096();
    // Without a settings file: the defaults.
    const auto values = [this] {
        return std::vector<double>{L().SEUpperOffset->value(), L().SELowerOffset->value(),
                                   L().SEHoldOff->value(), L().SEPreSeconds->value(),
                                   L().SEPostSeconds->value()};
    };
    EXPECT_EQ(values(), (std::vector<double>{6, 6, 1, 5, 5}));
    EXPECT_FALSE(L().CBEventLog->isChecked() || L().CBRecordOnAlarm->isChecked());
    Prompts.Numbers.push_back(-35.5);
    L().ActFlatLimit->trigger();
    Form->Histo->setMode(modeLowerRef);
    Prompts.Numbers.push_back(-90.0);
    L().ActFlatLimit->trigger();
    const quillex::TLimits made = L().Limits();
    ASSERT_FALSE(made.Upper.Empty() || made.Lower.Empty());
    Prompts.Names.push_back(Path("limits.csv"));
    L().ActSaveLimits->trigger();
    L().ActClearLimits->trigger();
    EXPECT_TRUE(L().Limits().Upper.Empty() && L().Limits().Lower.Empty());
    Prompts.Names.push_back(Path("limits.csv"));
    L().ActLoadLimits->trigger();
    EXPECT_TRUE(L().Limits().Upper == made.Upper && L().Limits().Lower == made.Lower);

    std::ofstream(Path("bad.csv").toStdString()) << "MHz,upper_dBm,lower_dBm\n1,-50,\n0.5,-40,\n";
    Prompts.Names.push_back(Path("bad.csv"));
    L().ActLoadLimits->trigger();
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_TRUE(Prompts.Messages[0].contains("3")) << Prompts.Messages[0];
    EXPECT_TRUE(L().Limits().Upper == made.Upper && L().Limits().Lower == made.Lower);
    EXPECT_EQ(L().LimitsFile(), Path("limits.csv"));

    L().SEUpperOffset->setValue(7.5);
    L().SELowerOffset->setValue(4.5);
    L().SEHoldOff->setValue(2.25);
    LogTo(Path("events.csv"));
    RecordTo(Path("alarms"), 3, 8);

    Prompts.Answers.push_back(TPrompts::TAnswer::Yes);
    ASSERT_TRUE(CloseWindow());
    EXPECT_TRUE(ReadIni().contains("File=" + Path("limits.csv"))) << ReadIni();
    Form.reset();
    Prompts.Messages.clear();
    StartDebug4096();
    EXPECT_TRUE(Prompts.Messages.isEmpty()) << Prompts.Messages.join('\n');
    EXPECT_TRUE(L().Limits().Upper == made.Upper && L().Limits().Lower == made.Lower);
    EXPECT_EQ(Form->Histo->SeriesRecord(TLimitTools::UpperSeries).Count, N);
    EXPECT_EQ(values(), (std::vector<double>{7.5, 4.5, 2.25, 3, 8}));
    EXPECT_TRUE(L().CBEventLog->isChecked());
    EXPECT_EQ(L().EventLogFile(), Path("events.csv"));
    EXPECT_TRUE(L().CBRecordOnAlarm->isChecked());
    EXPECT_TRUE(Form->Recording.Alarms().Active());
    EXPECT_EQ(L().AlarmFolder(), Path("alarms"));
    // Switched off, it stops without asking for a folder.
    Prompts.Names = {Path("alarms")};
    L().CBRecordOnAlarm->click();
    EXPECT_FALSE(L().CBRecordOnAlarm->isChecked() || Form->Recording.Alarms().Active());
    EXPECT_EQ(Prompts.Names.size(), 1u);
    // The log opened again for appending keeps its one header.
    EXPECT_EQ(Lines(Path("events.csv")),
              QStringList{"start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB"});

    Form.reset();
    QFile::remove(Path("limits.csv"));
    StartDebug4096();
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_TRUE(Prompts.Messages[0].contains(Path("limits.csv")));
    EXPECT_TRUE(L().Limits().Upper.Empty() && L().Limits().Lower.Empty());

    // A curve made and not saved counts as a change at close, and saving writes it to the
    // limits file; "Clear limits" forgets the file, so nothing comes back.
    Prompts = {};
    Prompts.Numbers = {-40.0};
    L().ActFlatLimit->trigger();
    const quillex::TLimits flat = L().Limits();
    for (int round = 0; round < 2; ++round) {
        Prompts.Answers.push_back(TPrompts::TAnswer::Yes);
        ASSERT_TRUE(CloseWindow());
        Form.reset();
        StartDebug4096();
        EXPECT_TRUE(L().Limits().Upper == (round == 0 ? flat.Upper : quillex::TLimitCurve()));
        L().ActClearLimits->trigger();
    }
    EXPECT_EQ(Prompts.Questions.count("Some Settings changed, save?"), 2);
    EXPECT_TRUE(Prompts.Messages.isEmpty()) << Prompts.Messages.join('\n');
}

// Each episode gets a recording of its own: the frames of the seconds before its first frame beyond
// the limit (held in memory), its frames and those of the seconds after, each with its stamp and
// samples. A folder that has gone by a run's start turns recording on alarm off.
TEST_F(LimitTest, RecordingOnAlarmHoldsTheFramesAround)
{
    StartDebug4096();
    UpperFromQuietTrace();
    RecordTo(Path("alarms"), 0.45, 0.55);
    Write(Path("bursts.spk"), true);
    QMap<int64_t, QString> shown; // the file panel, which names the recording while it grows
    PlayToEnd(Path("bursts.spk"), [&] { shown[Form->PlaybackRecord] = Form->StatusText(3); });
    EXPECT_TRUE(Prompts.Warnings.isEmpty()) << Prompts.Warnings.join('\n');
    for (const auto& [frame, records] : {std::pair{10, 0}, {11, 6}, {23, 18}, {24, 0}}) {
        const QString size = QString::asprintf("%.1f MB", records * 16392 / 1e6);
        EXPECT_EQ(shown[frame],
                  records ? "Alarm record  " + size + "  limit_2026-12-06_10-00-01.100.spk"
                          : "File: bursts.spk")
            << frame;
    }

    const QStringList files = QDir(Path("alarms")).entryList({"*.spk"}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 2) << files.join(',');
    EXPECT_EQ(files[0], "limit_2026-12-06_10-00-01.100.spk");
    // 0.45 s before frame 11 reaches back to frame 7, 0.55 s after frame 18 to 23; the recording's
    // end closes the second.
    const std::pair<int, int> expected[] = {{7, 23}, {37, 45}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(files[i]);
        const QByteArray bytes = ReadAll(Path("alarms") + "/" + files[i]);
        const auto [first, last] = expected[i];
        ASSERT_EQ(bytes.size(), (last - first + 2) * quillex::FrameRecordSize);
        for (int f = first; f <= last; ++f) {
            double stamp = 0;
            std::vector<int16_t> samples(TForm1::BlockSamples);
            quillex::DecodeDataRecord(reinterpret_cast<const uint8_t*>(bytes.constData()) +
                                          (f - first + 1) * quillex::FrameRecordSize,
                                      stamp, samples.data());
            EXPECT_EQ(stamp, StampOf(f)) << f;
            EXPECT_TRUE(samples == Block(BurstAt(f))) << f;
        }
    }
    // The folder gone by the next run's start: one message naming it, and recording on alarm off.
    ASSERT_TRUE(QDir(Path("alarms")).removeRecursively());
    Form->BtnStartStop->click();
    EXPECT_FALSE(L().CBRecordOnAlarm->isChecked());
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_TRUE(Prompts.Messages[0].contains(Path("alarms"))) << Prompts.Messages[0];
}

// A full disk under recording on alarm or under the event log: one message, that one turned off
// with whole records or lines only, and the alarms go on (both episodes shown: frames 11-27, until
// the hold-off after 18 passes, and 41-45), as does the log when the recording failed.
TEST_F(LimitTest, WriteFailureTurnsOffOnlyWhatFailed)
{
    for (const bool recording : {true, false}) {
        SCOPED_TRACE(recording ? "recording on alarm" : "event log");
        Prompts = {};
        StartDebug4096();
        UpperFromQuietTrace();
        const QString log = Path(recording ? "events1.csv" : "events2.csv");
        LogTo(log);
        const qint64 header = QFileInfo(log).size();
        if (recording)
            RecordTo(Path("alarms"), 0.45, 0.55);
        Write(Path("bursts.spk"), true);
        int alarmFrames = 0;
        {
            const TFullDisk full(recording ? 5 * quillex::FrameRecordSize + 100 : header + 20);
            PlayToEnd(Path("bursts.spk"),
                      [&] { alarmFrames += Form->StatusText(0).startsWith("LIMIT"); });
        }
        EXPECT_EQ(Prompts.Warnings.size(), 1) << Prompts.Warnings.join('\n');
        EXPECT_FALSE(L().CBRecordOnAlarm->isChecked());
        EXPECT_EQ(L().CBEventLog->isChecked(), recording);
        EXPECT_EQ(alarmFrames, 17 + 5);
        if (recording) {
            const QStringList files = QDir(Path("alarms")).entryList({"*.spk"}, QDir::Files);
            ASSERT_EQ(files.size(), 1);
            EXPECT_EQ(ReadAll(Path("alarms") + "/" + files[0]).size(),
                      5 * quillex::FrameRecordSize);
            EXPECT_EQ(Lines(log).size(), 3);
        } else {
            EXPECT_EQ(QFileInfo(log).size(), header);
        }
    }
}
