#include "test_window_support.h"

#include <QTest>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>

#include "IniFileU.h"
#include "MarkerReadout.h"
#include "SpkFile.h"
#include "Unit1Markers.h"
#include "dxHisto.h"

namespace {

// Exponent 12: a frame transforms all 8192 samples of a block into 4096 bins of 9.765625 kHz.
constexpr int N = 4096;
constexpr double BinMHz = 40.0 / N;

struct TTone
{
    double MHz;
    double Amplitude; // in samples
    double Phase = 0.7;
};

// The samples of tones at sample rate 80 MHz: x[n] = sum A cos(pi f n / 40 + phase), f in MHz,
// so a tone of f MHz lies at bin f * N / 40.
std::vector<int16_t> ToneBlock(const std::vector<TTone>& Tones, double Noise = 0,
                               std::mt19937* Rng = nullptr)
{
    std::vector<int16_t> block(TForm1::BlockSamples);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int n = 0; n < TForm1::BlockSamples; ++n) {
        double v = 0;
        for (const TTone& t : Tones)
            v += t.Amplitude * std::cos(std::numbers::pi * t.MHz * n / 40.0 + t.Phase);
        if (Noise > 0)
            v += Noise * noise(*Rng);
        block[size_t(n)] = int16_t(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return block;
}

struct THeader
{
    double FreqOffset = 0, LevelOffset = 0;
    bool Inverted = false;
};

// What a bin shows for a tone of amplitude A lying on it, Hann window over 2N samples:
// A * sum(w) / N, with w[n] = 0.5 - 0.5 cos(2 pi n / (2N - 1)); as a level in dBm.
double OnBinDbm(double Amplitude)
{
    double sum = 0;
    for (int n = 0; n < 2 * N; ++n)
        sum += 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / (2 * N - 1));
    return 20 * std::log10(Amplitude * sum / N / 16384 + 1e-9);
}

// Where a tone shows on the axis: mirrored about the last bin when inverted, offset added.
double ShownMHz(double MHz, const THeader& H)
{
    const double bin = MHz / BinMHz;
    return H.FreqOffset + (H.Inverted ? N - 1 - bin : bin) * BinMHz;
}

// A value lies well inside the last digit it is printed with, so the estimator's tiny error
// (a few thousandths of a bin, a thousandth of a dB) cannot flip the digit.
void ExpectClearOfRounding(double Value, int Decimals)
{
    const double scaled = std::fabs(Value) * std::pow(10.0, Decimals);
    EXPECT_GT(std::fabs(scaled - std::floor(scaled) - 0.5), 0.1)
        << Value << " is too close to a rounding boundary: choose other tones";
}

// The read-out of a marker written out from the tone: four decimals of a MHz at N = 4096
// (0.1 kHz is the coarsest digit within a tenth of the 9.77 kHz bin; 1 kHz is not).
QString MarkerText(int Number, const TTone& Tone, const THeader& H)
{
    const double mhz = ShownMHz(Tone.MHz, H);
    const double dbm = OnBinDbm(Tone.Amplitude) + H.LevelOffset;
    ExpectClearOfRounding(mhz, 4);
    ExpectClearOfRounding(dbm, 2);
    return QString::asprintf("M%d %.4f MHz  %.2f dBm", Number, mhz, dbm);
}

// Hann's resolution bandwidth: the equivalent noise bandwidth 2N sum(w^2) / sum(w)^2 bins.
QString RbwText()
{
    double sum = 0, squares = 0;
    for (int n = 0; n < 2 * N; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / (2 * N - 1));
        sum += w;
        squares += w * w;
    }
    return QString::asprintf("RBW %.1f kHz", 2 * N * squares / (sum * sum) * 40000.0 / N);
}

// A 5 MHz span around 14.5 MHz holds four tones; a stronger one lies outside it.
const TTone Left{13.90061, 1500}, Strongest{14.25043, 3000}, Right{14.37543, 800},
    Far{15.10021, 400}, Outside{20.3, 8000};
const std::vector<TTone> Tones{Left, Strongest, Right, Far, Outside};

class MarkerTest : public WindowTest
{
protected:
    void StartWindow(const char* Ini = nullptr)
    {
        if (Ini)
            WriteIni(Ini);
        Start({"DEBUG"});
        Form->SEFft->setValue(12);
        ASSERT_EQ(Form->FFT->Size(), N);
    }

    QString Path(const char* Name) const { return Dir.filePath(QString::fromLatin1(Name)); }

    // A recording of the blocks; without a header, record 0 is a blank one (never played).
    void Write(const QString& File, const std::vector<std::vector<int16_t>>& Blocks,
               std::optional<THeader> Header = std::nullopt)
    {
        std::string bytes(size_t(quillex::FrameRecordSize), '\0');
        if (Header) {
            uint8_t record[quillex::FrameRecordSize];
            quillex::FormatOffsetsHeader(Header->FreqOffset, Header->LevelOffset, Header->Inverted,
                                         '.', record);
            bytes.assign(reinterpret_cast<const char*>(record), sizeof record);
        }
        for (const auto& block : Blocks) {
            std::string record(size_t(quillex::FrameRecordSize), '\0');
            quillex::EncodeDataRecord(0.0, block.data(), reinterpret_cast<uint8_t*>(record.data()));
            bytes += record;
        }
        std::ofstream(File.toStdString(), std::ios::binary) << bytes;
    }

    // Loads a recording and plays it in "Harddisk sync", which returns at its end; then shows
    // the span given (loading re-selects the bandwidth).
    void Play(const QString& File, int CentreKHz = 14500)
    {
        if (!Form->BtnPlayback->isChecked())
            Form->BtnPlayback->click();
        Prompts.Names.push_back(File);
        Form->BtnLoadFile->click();
        Form->RGBW->setItemIndex(0);
        Form->SBFrq->setValue(CentreKHz);
        Form->RBSync->setChecked(true);
        Form->BtnStartStop->click();
        ASSERT_FALSE(Form->BtnStartStop->isChecked());
    }

    void PlayTones(const THeader& H, int CentreKHz = 14500)
    {
        Write(Path("tones.spk"), {ToneBlock(Tones), ToneBlock(Tones)}, H);
        Play(Path("tones.spk"), CentreKHz);
    }

    TMeasureTools& M() const { return *Form->Measure; }
    QStringList Readout() const { return M().Readout->Texts(); }
    // Displayed MHz of a marker, from its physical bin.
    double MarkerMHz(int Number, const THeader& H) const
    {
        const double bin = M().MarkerBin(Number);
        return H.FreqOffset + (H.Inverted ? N - 1 - bin : bin) * BinMHz;
    }
};

} // namespace

// "Peak" finds the strongest tone inside the span, not the stronger one outside it, and reads
// its interpolated frequency and on-bin level with both offsets; the plot marks it there.
TEST_F(MarkerTest, PeakPutsMarkerOneOnTheStrongestToneOfTheSpan)
{
    StartWindow();
    const THeader h{0.5, 10.0, false};
    PlayTones(h);
    EXPECT_FALSE(M().Readout->isVisible());
    EXPECT_FALSE(Form->Histo->Marker(1).Shown);

    M().ActPeak->trigger();
    EXPECT_EQ(Readout(), QStringList({MarkerText(1, Strongest, h), RbwText()}));
    EXPECT_TRUE(M().Readout->isVisibleTo(Form.get()));
    const auto& mark = Form->Histo->Marker(1);
    EXPECT_TRUE(mark.Shown);
    EXPECT_NEAR(mark.X, Strongest.MHz * 1000, 0.01 * BinMHz * 1000);
    EXPECT_NEAR(mark.Y, OnBinDbm(Strongest.Amplitude), 0.01); // the axis adds the offset
    EXPECT_FALSE(Form->Histo->Marker(2).Shown);

    // The whole spectrum in view: now the tone at 20.3 MHz is the highest.
    Form->RGBW->setItemIndex(3);
    M().ActPeak->trigger();
    EXPECT_NEAR(MarkerMHz(1, h), ShownMHz(Outside.MHz, h), 0.01 * BinMHz);
    // A new FFT size keeps the marker's frequency; the read-out has the digits of the new bins.
    Form->SEFft->setValue(11);
    EXPECT_NEAR(M().MarkerBin(1) * 40.0 / 2048, Outside.MHz, 0.01 * BinMHz);
    EXPECT_TRUE(
        Readout()[0].startsWith(QString::asprintf("M1 %.3f MHz  ", ShownMHz(Outside.MHz, h))))
        << Readout()[0];

    M().ActMarkersOff->trigger();
    EXPECT_FALSE(M().Readout->isVisibleTo(Form.get()));
    EXPECT_FALSE(Form->Histo->Marker(1).Shown);
}

// "Next peak left/right" go to the nearest peak on that side of the display that is lower
// than the marker's, and stay where none is; mirrored, the display's left is the spectrum's
// right. Without a marker they place it as "Peak" does.
TEST_F(MarkerTest, NextPeaksGoToTheNearestLowerPeakOnThatSideOfTheDisplay)
{
    StartWindow();
    for (bool inverted : {false, true}) {
        SCOPED_TRACE(inverted);
        const THeader h{0.0, 0.0, inverted};
        // Mirrored, the tones show around 25.5 MHz.
        PlayTones(h, inverted ? 25500 : 14500);
        M().ActMarkersOff->trigger();
        const std::vector<TTone> inSpan{Left, Strongest, Right, Far};
        // The rule, written out over the tones' displayed frequencies.
        const auto next = [&](const TTone& From, bool ToLeft) {
            const TTone* best = &From;
            for (const TTone& t : inSpan) {
                const double d = ShownMHz(t.MHz, h) - ShownMHz(From.MHz, h);
                if (t.Amplitude < From.Amplitude && (ToLeft ? d < 0 : d > 0) &&
                    (best == &From ||
                     std::fabs(d) < std::fabs(ShownMHz(best->MHz, h) - ShownMHz(From.MHz, h))))
                    best = &t;
            }
            return *best;
        };
        M().ActNextPeakRight->trigger(); // no marker yet: to the highest peak
        TTone at = Strongest;
        EXPECT_NEAR(MarkerMHz(1, h), ShownMHz(at.MHz, h), 0.01 * BinMHz);
        int moves = 0;
        for (bool left : {true, true, false, false, false, true}) {
            (left ? M().ActNextPeakLeft : M().ActNextPeakRight)->trigger();
            const TTone expected = next(at, left);
            moves += expected.MHz != at.MHz;
            at = expected;
            ASSERT_NEAR(MarkerMHz(1, h), ShownMHz(at.MHz, h), 0.01 * BinMHz) << "move " << moves;
            // The plot marks it where the axis shows the tone (the axis adds the offset).
            ASSERT_NEAR(Form->Histo->Marker(1).X, (ShownMHz(at.MHz, h) - h.FreqOffset) * 1000,
                        0.01 * BinMHz * 1000);
        }
        EXPECT_GE(moves, 2); // the sequence went somewhere, and stayed somewhere
        EXPECT_FALSE(M().MarkerPlaced(2));
    }
}

// Marker 2 is placed the same way and the read-out shows both and their difference.
TEST_F(MarkerTest, SecondMarkerGivesTheDelta)
{
    StartWindow();
    const THeader h{1.25, -3.0, false};
    PlayTones(h);
    M().ActPeak->trigger();
    M().ActPeak2->trigger();
    EXPECT_EQ(Readout(), QStringList({MarkerText(1, Strongest, h), MarkerText(2, Strongest, h),
                                      "M2-M1 +0.0 kHz  +0.00 dB", RbwText()}));
    M().ActNextPeakRight2->trigger();
    const double kHz = (ShownMHz(Right.MHz, h) - ShownMHz(Strongest.MHz, h)) * 1000;
    const double db = OnBinDbm(Right.Amplitude) - OnBinDbm(Strongest.Amplitude);
    ExpectClearOfRounding(kHz, 1);
    ExpectClearOfRounding(db, 2);
    EXPECT_EQ(Readout(),
              QStringList({MarkerText(1, Strongest, h), MarkerText(2, Right, h),
                           QString::asprintf("M2-M1 %+.1f kHz  %+.2f dB", kHz, db), RbwText()}));
    EXPECT_EQ(Readout()[2], "M2-M1 +125.0 kHz  -11.48 dB");
    EXPECT_TRUE(Form->Histo->Marker(2).Shown);
    M().ActNextPeakRight2->trigger();
    EXPECT_NEAR(MarkerMHz(2, h), ShownMHz(Far.MHz, h), 0.01 * BinMHz);
    EXPECT_EQ(Readout()[2], "M2-M1 +849.8 kHz  -17.50 dB");
    M().ActPeak2->trigger(); // marker 2 on marker 1's tone, then to the left of it
    M().ActNextPeakLeft2->trigger();
    EXPECT_EQ(Readout()[2], "M2-M1 -349.8 kHz  -6.02 dB");
}

// A marker follows its tone as it drifts from frame to frame, and a stronger tone six bins
// away does not take it.
TEST_F(MarkerTest, MarkerFollowsItsPeakFromFrameToFrame)
{
    StartWindow();
    std::vector<std::vector<int16_t>> blocks;
    std::vector<double> at;
    for (int f = 0; f < 8; ++f) {
        const double mhz = Strongest.MHz + 0.45 * f * BinMHz;
        at.push_back(mhz);
        blocks.push_back(ToneBlock({{mhz, 2000}, {Strongest.MHz + 9.6 * BinMHz, 6000}}));
    }
    Write(Path("drift.spk"), blocks);
    std::vector<double> followed;
    Form->OnFrameProcessed = [&] {
        if (!M().MarkerPlaced(1)) {
            M().ActPeak->trigger(); // the stronger tone: then move down to ours
            M().ActNextPeakLeft->trigger();
        }
        followed.push_back(M().MarkerBin(1) * BinMHz);
    };
    Play(Path("drift.spk"));
    ASSERT_EQ(followed.size(), at.size());
    for (size_t f = 0; f < at.size(); ++f)
        EXPECT_NEAR(followed[f], at[f], 0.01 * BinMHz) << "frame " << f;
}

// A weak carrier alone in noise stands out by no rule of the peak search (8 dB over the noise
// around it, where a peak needs 12), yet it is the highest point of the span: "Peak" takes it,
// and the marker stays with it frame after frame rather than wandering off into the noise.
TEST_F(MarkerTest, WeakCarrierAloneStillTakesTheMarker)
{
    StartWindow();
    Form->SEAvg->setValue(16);
    std::mt19937 rng(11);
    const TTone weak{14.61234, 7.0};
    std::vector<std::vector<int16_t>> blocks;
    for (int f = 0; f < 40; ++f)
        blocks.push_back(ToneBlock({weak}, 100.0, &rng));
    Write(Path("weak.spk"), blocks);
    std::vector<double> followed;
    Form->OnFrameProcessed = [&] {
        if (followed.size() == 20 || (followed.size() > 20 && !M().MarkerPlaced(1))) {
            M().ActPeak->trigger();
            EXPECT_TRUE(M().MarkerPlaced(1));
        }
        followed.push_back(M().MarkerPlaced(1) ? M().MarkerBin(1) * BinMHz : 0.0);
    };
    Play(Path("weak.spk"));
    ASSERT_EQ(followed.size(), blocks.size());
    for (size_t f = 20; f < followed.size(); ++f)
        ASSERT_NEAR(followed[f], weak.MHz, 0.5 * BinMHz) << "frame " << f;
    // It reads the carrier's level, which the noise raises by about half a dB here.
    const QStringList parts = Readout()[0].split(' ', Qt::SkipEmptyParts);
    ASSERT_EQ(parts.size(), 5);
    EXPECT_NEAR(parts[3].toDouble(), OnBinDbm(weak.Amplitude), 1.5);
}

// The keys act while the window is active, and not while a text field has the focus: there
// the field takes P and Ctrl+arrows as it always did.
TEST_F(MarkerTest, KeysPlaceMarkersUnlessATextFieldHasTheFocus)
{
    StartWindow("[Offsets]\nEnabled=1\n");
    PlayTones({});
    Form->show();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));

    const auto press = [](QWidget* Target, int Key, Qt::KeyboardModifiers Modifiers) {
        Target->setFocus();
        QTest::keyClick(Target, Qt::Key(Key), Modifiers);
    };
    for (QWidget* field :
         {static_cast<QWidget*>(Form->EdtFrqOffset), static_cast<QWidget*>(Form->SEAvg)}) {
        SCOPED_TRACE(field->objectName().toStdString());
        const QString text = Form->EdtFrqOffset->text();
        Form->EdtFrqOffset->setCursorPosition(0);
        press(field, Qt::Key_P, Qt::NoModifier);
        press(field, Qt::Key_P, Qt::ShiftModifier);
        press(field, Qt::Key_Right, Qt::ControlModifier);
        // The field moved its cursor by a word.
        if (field == Form->EdtFrqOffset) {
            EXPECT_GT(Form->EdtFrqOffset->cursorPosition(), 0);
        }
        press(field, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
        press(field, Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_FALSE(M().MarkerPlaced(1));
        EXPECT_FALSE(M().MarkerPlaced(2));
        EXPECT_EQ(Form->EdtFrqOffset->text(), text);
        EXPECT_EQ(Form->SEAvg->value(), 1);
    }

    QWidget* button = Form->BtnStartStop;
    press(button, Qt::Key_P, Qt::NoModifier);
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Strongest.MHz, 0.01 * BinMHz);
    press(button, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Left.MHz, 0.01 * BinMHz);
    press(button, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Right.MHz, 0.01 * BinMHz);
    press(button, Qt::Key_P, Qt::ShiftModifier);
    EXPECT_NEAR(M().MarkerBin(2) * BinMHz, Strongest.MHz, 0.01 * BinMHz);
    press(button, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_NEAR(M().MarkerBin(2) * BinMHz, Left.MHz, 0.01 * BinMHz);
    press(button, Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_NEAR(M().MarkerBin(2) * BinMHz, Right.MHz, 0.01 * BinMHz);
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Right.MHz, 0.01 * BinMHz);

    // The About box names the keys; the context menu has the actions.
    const QString about = Form->AboutText();
    for (const char* key : {"P puts marker 1", "Ctrl+Left", "Ctrl+Right", "Shift+P"})
        EXPECT_TRUE(about.contains(QLatin1String(key))) << key;
    EXPECT_TRUE(Form->HistoMenu->actions().contains(M().ActPeak));
    EXPECT_TRUE(Form->HistoMenu->actions().contains(M().ActMarkersOff));
}

// The hold traces are the per-bin maximum, minimum and mean of the last K frames' magnitudes,
// shown as plot series over the span (mirrored when inverted); a span change keeps them.
TEST_F(MarkerTest, HoldTracesAreThePerBinMaximumMinimumAndMeanOfTheFrames)
{
    StartWindow();
    std::mt19937 rng(7);
    std::vector<std::vector<int16_t>> blocks;
    for (int f = 0; f < 9; ++f)
        blocks.push_back(ToneBlock(
            {{14.2 + 0.01 * f, 500.0 + 300 * (f % 4)}, {16.0, 900.0 * (f == 3)}}, 40.0, &rng));
    const int depth = 4;
    M().CBMaxHold->setChecked(true);
    M().CBMinHold->setChecked(true);
    M().CBAverage->setChecked(true);
    M().SEAverageFrames->setValue(depth);
    std::vector<std::vector<float>> frames;
    Form->OnFrameProcessed = [&] {
        frames.emplace_back(Form->AvgSpectrum.begin(), Form->AvgSpectrum.begin() + N);
    };
    for (bool inverted : {false, true}) {
        SCOPED_TRACE(inverted);
        const THeader h{0.0, 0.0, inverted};
        Write(Path("holds.spk"), blocks, h);
        frames.clear();
        // Loading may clear (inversion changes); the holds start with the file's first frame.
        Play(Path("holds.spk"), inverted ? 25000 : 15000);
        ASSERT_EQ(frames.size(), blocks.size());
        EXPECT_EQ(M().Holds().Frames(), int64_t(blocks.size()));

        const auto check = [&](int Series, auto Statistic) {
            const auto& s = Form->Histo->SeriesRecord(Series);
            ASSERT_EQ(s.Count, N);
            const int first = Form->ViewStartBin;
            for (int d = first; d < first + int(Form->WaterfallLine.size()); ++d) {
                const int k = inverted ? N - 1 - d : d;
                const double expected = 20 * std::log10(Statistic(k) / 16384 + 1e-9);
                ASSERT_NEAR(s.Data[d], expected, 0.002) << "series " << Series << " bin " << d;
            }
        };
        const auto checkAll = [&] {
            check(TMeasureTools::MaxSeries, [&](int k) {
                double m = 0;
                for (const auto& f : frames)
                    m = std::max(m, double(f[size_t(k)]));
                return m;
            });
            check(TMeasureTools::MinSeries, [&](int k) {
                double m = 1e30;
                for (const auto& f : frames)
                    m = std::min(m, double(f[size_t(k)]));
                return m;
            });
            check(TMeasureTools::AverageSeries, [&](int k) {
                double sum = 0;
                for (size_t f = frames.size() - depth; f < frames.size(); ++f)
                    sum += frames[f][size_t(k)];
                return sum / depth;
            });
        };
        checkAll();
        // Another centre: the holds stay and the new span shows them.
        Form->SBFrq->setValue(inverted ? 24000 : 16000);
        EXPECT_EQ(M().Holds().Frames(), int64_t(blocks.size()));
        checkAll();
        Form->RGBW->setItemIndex(2);
        checkAll();
        // The hair cross snaps to them as to the live trace: high up over the burst at 16 MHz
        // the maximum is nearest.
        const float burst = float(ShownMHz(16.0, h) * 1000);
        const auto near = Form->Histo->FindNearestPoint(Form->Histo->XToPixel(burst),
                                                        Form->Histo->YToPixel(-10.0f));
        EXPECT_EQ(near.Serie, TMeasureTools::MaxSeries);
    }
}

// A new FFT size, window, averaging, offset or mirroring clears the holds, and so do "Clear"
// and switching all three off; the traces show again with the next frame.
TEST_F(MarkerTest, HoldsClearWhenWhatTheyWereGatheredUnderChanges)
{
    StartWindow("[Offsets]\nEnabled=1\n");
    M().CBMaxHold->setChecked(true);
    const auto frames = [&](int Count) {
        for (int i = 0; i < Count; ++i)
            Form->Timer1Timer();
    };
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"FFT size", [&] { Form->SEFft->setValue(11); }},
        {"window", [&] { Form->RGFenster->setItemIndex(3); }},
        {"averaging", [&] { Form->SEAvg->setValue(4); }},
        {"frequency offset",
         [&] {
             Form->EdtFrqOffset->setText("2.5");
             Form->ApplyOffsetFields();
         }},
        {"level offset",
         [&] {
             Form->EdtLevelOffset->setText("-7");
             Form->ApplyOffsetFields();
         }},
        {"inversion", [&] { Form->CBInverted->setChecked(true); }},
        {"Clear", [&] { M().BtnClearTraces->click(); }},
        {"all off", [&] {
             M().CBMaxHold->setChecked(false);
             M().CBMaxHold->setChecked(true);
         }}};
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        const int64_t before = M().Holds().Frames();
        frames(2);
        ASSERT_EQ(M().Holds().Frames(), before + 2);
        ASSERT_EQ(Form->Histo->SeriesRecord(TMeasureTools::MaxSeries).Count, Form->FFT->Size());
        change();
        EXPECT_EQ(M().Holds().Frames(), 0);
        EXPECT_EQ(Form->Histo->SeriesRecord(TMeasureTools::MaxSeries).Count, 0);
        frames(1);
        EXPECT_EQ(M().Holds().Bins(), Form->FFT->Size());
        EXPECT_EQ(M().Holds().Frames(), 1);
    }
    // A span change, the level bars and the depth keep them.
    for (const auto& keep : std::vector<std::function<void()>>{
             [&] { Form->RGBW->setItemIndex(1); }, [&] { Form->SBMin->setValue(90); },
             [&] { M().SEAverageFrames->setValue(3); }})
        keep();
    EXPECT_EQ(M().Holds().Frames(), 1);
}

// The markers can sit on a hold trace: the maximum holds a burst the live trace has lost.
// Choosing a trace switches it on; switching it off puts the markers back on the live trace.
TEST_F(MarkerTest, MarkersSitOnTheChosenTrace)
{
    StartWindow();
    const TTone burst{15.6021, 5000};
    Write(Path("burst.spk"),
          {ToneBlock(Tones), ToneBlock({Left, Strongest, burst}), ToneBlock(Tones)});
    M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trMax);
    EXPECT_TRUE(M().CBMaxHold->isChecked());
    Play(Path("burst.spk"));
    M().ActPeak->trigger();
    EXPECT_EQ(Readout()[0], MarkerText(1, burst, {}));
    M().CBMaxHold->setChecked(false);
    EXPECT_EQ(M().MarkerTrace(), TMeasureTools::trLive);
    M().ActPeak->trigger();
    EXPECT_EQ(Readout()[0], MarkerText(1, Strongest, {}));
    // In the minimum, the burst's frame took the other tones away: right of the strongest
    // there is no peak left, while the live trace has one.
    M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trMin);
    EXPECT_TRUE(M().CBMinHold->isChecked());
    Play(Path("burst.spk"));
    M().ActPeak->trigger();
    EXPECT_EQ(Readout()[0], MarkerText(1, Strongest, {}));
    M().ActNextPeakRight->trigger();
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Strongest.MHz, 0.01 * BinMHz);
    M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trLive);
    M().ActNextPeakRight->trigger();
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Right.MHz, 0.01 * BinMHz);
}

// The switches, the depth and the markers' trace are kept in a section of their own; a file
// from before them loads as it did and asks nothing when nothing changed.
TEST_F(MarkerTest, TraceSettingsRoundTripAndOlderFilesLoadUnchanged)
{
    const char* old = "[Settings]\r\nFFTWindow=2\r\nBandWidth=1\r\nFFT=12\r\nFreq=12000\r\n"
                      "[Form]\r\nWidth=900\r\nHeight=700\r\nTop=50\r\nLeft=60\r\n";
    StartWindow(old);
    EXPECT_FALSE(M().CBMaxHold->isChecked() || M().CBMinHold->isChecked() ||
                 M().CBAverage->isChecked());
    EXPECT_EQ(M().SEAverageFrames->value(), TMeasureTools::DefaultAverageFrames);
    EXPECT_EQ(M().MarkerTrace(), TMeasureTools::trLive);
    EXPECT_EQ(Form->RGFenster->ItemIndex(), 2);
    ASSERT_TRUE(CloseWindow());
    EXPECT_TRUE(Prompts.Questions.isEmpty());
    EXPECT_EQ(ReadIni(), QString::fromLatin1(old));

    // Each switch alone counts as a change.
    const std::vector<std::function<void()>> changes = {
        [&] { M().CBMaxHold->setChecked(true); }, [&] { M().CBMinHold->setChecked(true); },
        [&] { M().CBAverage->setChecked(true); }, [&] { M().SEAverageFrames->setValue(11); },
        [&] { M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trAverage); }};
    for (const auto& change : changes) {
        Prompts.Questions.clear();
        Start({"DEBUG"});
        change();
        Prompts.Answers = {TPrompts::TAnswer::No};
        ASSERT_TRUE(CloseWindow());
        EXPECT_EQ(Prompts.Questions, QStringList{"Some Settings changed, save?"});
    }

    Start({"DEBUG"});
    M().CBMinHold->setChecked(true);
    M().SEAverageFrames->setValue(37);
    M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trAverage);
    Prompts.Answers = {TPrompts::TAnswer::Yes};
    ASSERT_TRUE(CloseWindow());
    const TIniFile saved(IniPath().toStdString());
    int key = 0;
    for (const auto& [name, value] : std::vector<std::pair<const char*, int>>{{"MaxHold", 0},
                                                                              {"MinHold", 1},
                                                                              {"Average", 1},
                                                                              {"AverageFrames", 37},
                                                                              {"MarkerTrace", 3}})
        EXPECT_EQ(saved.ReadInteger("Traces", name, -1), value) << "key " << key++;
    Start({"DEBUG"});
    EXPECT_FALSE(M().CBMaxHold->isChecked());
    EXPECT_TRUE(M().CBMinHold->isChecked());
    EXPECT_TRUE(M().CBAverage->isChecked());
    EXPECT_EQ(M().SEAverageFrames->value(), 37);
    EXPECT_EQ(M().MarkerTrace(), TMeasureTools::trAverage);
    Prompts.Questions.clear();
    ASSERT_TRUE(CloseWindow());
    EXPECT_TRUE(Prompts.Questions.isEmpty());

    // Out-of-range values fall back or are limited.
    WriteIni("[Traces]\nMaxHold=x\nAverageFrames=100000\nMarkerTrace=7\n");
    Start({"DEBUG"});
    EXPECT_FALSE(M().CBMaxHold->isChecked());
    EXPECT_EQ(M().SEAverageFrames->value(), 1000);
    EXPECT_EQ(M().MarkerTrace(), TMeasureTools::trLive);
}

// The read-out line is never cut: at the window's least width, with both markers, the delta
// and a long frequency offset, it has the room its texts need. Neither it nor the "Traces"
// group widens the window: the panels beside the status bar stay within 960 pixels (a 1920
// pixel screen at scale 2), and the settings panel keeps its width.
TEST_F(MarkerTest, ReadoutFitsAtTheLeastWindowWidth)
{
    StartWindow();
    Form->show();
    QCoreApplication::processEvents();
    const int leastBefore = Form->minimumSizeHint().width();
    PlayTones({});
    Form->FreqOffset = -12345.678f;
    Form->LevelOffset = -120.0f;
    Form->ReselectBandwidth();
    M().ActPeak->trigger();
    M().ActPeak2->trigger();
    M().ActNextPeakLeft2->trigger();
    ASSERT_EQ(Readout().size(), 4);
    EXPECT_TRUE(Readout()[0].startsWith("M1 -12331.4"));
    QCoreApplication::processEvents();
    const QSize least = Form->minimumSizeHint();
    EXPECT_EQ(least.width(), leastBefore);
    EXPECT_LE(Form->centralWidget()->minimumSizeHint().width(), 960);
    Form->resize(least);
    QCoreApplication::processEvents();
    const QFontMetrics fm(M().Readout->font());
    const int texts = M().Readout->TextLeft(3) + fm.horizontalAdvance(Readout()[3]);
    EXPECT_GE(M().Readout->width(), texts);
    // It asks for that room itself, so no window size can cut it.
    EXPECT_GE(M().Readout->minimumSizeHint().width(), texts);
    // The group fits the designed panel inside its column's margins.
    EXPECT_LE(M().GBTraces->minimumSizeHint().width(), TForm1::SettingsPanelWidth - 4);
}
