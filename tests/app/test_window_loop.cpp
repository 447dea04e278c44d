#include "test_window_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <vector>

#include "dxFFT.h"

namespace {

// A tone of the given bin's frequency plus a little offset, N = 2^Exponent bins.
void FillTone(TForm1& Form, int Bin, int Amplitude)
{
    const int samples = 2 * static_cast<int>(Form.FFT->Size());
    for (int i = 0; i < TForm1::BlockSamples; ++i)
        Form.SampleBlock[i] = static_cast<int16_t>(
            i < samples ? std::lround(Amplitude * std::sin(M_PI * Bin * i / (samples / 2.0))) : 0);
}

// The exact level formula, computed here in double from the window's own averages.
double ExactLevel(float Avg)
{
    return 20.0 * std::log10(double(Avg) / 16384.0 + 1e-9);
}

} // namespace

TEST_F(WindowTest, AllZeroBlockGivesTheFloorInEveryBin)
{
    Start();
    Form->SampleBlock.fill(0);
    Form->ProcessFrame();
    const int n = static_cast<int>(Form->FFT->Size());
    for (int k = 0; k < n; ++k)
        ASSERT_NEAR(Form->LevelSpectrum[k], -180.0, 0.001) << k;
}

TEST_F(WindowTest, LevelsFollowTheExactFormulaAndMirror)
{
    Start();
    for (int exponent : {8, 10, 12}) {
        Form->SEFft->setValue(exponent);
        const int n = static_cast<int>(Form->FFT->Size());
        FillTone(*Form, n / 5, 3000);
        Form->ProcessFrame();
        const std::vector<float> straight(Form->LevelSpectrum.begin(),
                                          Form->LevelSpectrum.begin() + n);
        for (int k = 0; k < n; ++k)
            ASSERT_NEAR(straight[k], ExactLevel(Form->AvgSpectrum[k]), 0.001) << k;
        EXPECT_GT(straight[n / 5], straight[n / 5 + 20] + 40.0f);

        Form->CBInverted->setChecked(true);
        Form->ProcessFrame();
        for (int k = 0; k < n; ++k)
            ASSERT_NEAR(Form->LevelSpectrum[k], straight[n - 1 - k], 0.001) << k;
        Form->CBInverted->setChecked(false);
    }
}

TEST_F(WindowTest, AveragingMovesEachBinBy1OverA)
{
    Start();
    FillTone(*Form, 300, 4000);
    Form->ProcessFrame(); // averaging 1: each frame's magnitudes
    const std::vector<float> first(Form->AvgSpectrum.begin(), Form->AvgSpectrum.begin() + 2048);
    Form->SEAvg->setValue(64);
    Form->SampleBlock.fill(0);
    Form->ProcessFrame();
    for (int k = 1; k < 2048; ++k)
        ASSERT_NEAR(Form->AvgSpectrum[k], first[k] * 63.0f / 64.0f, 1e-3f * first[k] + 1e-6f) << k;
}

TEST_F(WindowTest, ExponentEightUsesOnly512Samples)
{
    Start();
    Form->SEFft->setValue(8);
    FillTone(*Form, 40, 2000);
    Form->ProcessFrame();
    const std::vector<float> clean(Form->LevelSpectrum.begin(), Form->LevelSpectrum.begin() + 256);
    for (int i = 512; i < TForm1::BlockSamples; ++i)
        Form->SampleBlock[i] = static_cast<int16_t>((i * 7919) % 30000 - 15000);
    Form->ProcessFrame();
    for (int k = 0; k < 256; ++k)
        ASSERT_FLOAT_EQ(Form->LevelSpectrum[k], clean[k]) << k;
}

TEST_F(WindowTest, WaterfallGetsTheVisibleSliceOfLevels)
{
    Start();
    Form->SEFft->setValue(12);
    Form->RGBW->setItemIndex(1); // 10 MHz around 20000 kHz
    ASSERT_EQ(Form->ViewStartBin, 1536);
    ASSERT_EQ(Form->WaterfallLine.size(), 1024u);
    FillTone(*Form, 1600, 3000);
    Form->ProcessFrame();
    EXPECT_TRUE(std::equal(Form->WaterfallLine.begin(), Form->WaterfallLine.end(),
                           Form->LevelSpectrum.begin() + 1536));
}

TEST_F(WindowTest, SlowScanReadsEveryTickButProcessesOnlyWhenDue)
{
    Start();
    Form->RBSlow->setChecked(true);
    Form->SESpeed->setValue(5);
    int processed = 0;
    Form->OnFrameProcessed = [&] { ++processed; };
    Form->BtnStartStop->click();
    EXPECT_EQ(Form->Timer1->interval(), 1000);
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_FALSE(Form->RBFast->isEnabled());
    QStringList tickers;
    for (int second = 0; second < 12; ++second) {
        Form->Timer1Timer();
        tickers << Form->StatusText(4);
        Clock.Advance(1.001); // a little late, as real ticks are
    }
    EXPECT_EQ(processed, 3); // at 0, 5 and 10 s
    EXPECT_EQ(Trace().filter(QStringLiteral("GetInputData")).size(), 12);
    EXPECT_EQ(tickers[0], QStringLiteral(" *"));
    EXPECT_EQ(tickers[8], QStringLiteral(" *********"));
    EXPECT_EQ(tickers[9], QStringLiteral(" ")); // longer than 10 characters: reset
    Form->BtnStartStop->click();
    EXPECT_EQ(Form->StatusText(4), QString());
    EXPECT_FALSE(Form->Timer1->isActive());
}

TEST_F(WindowTest, FastScanLabelsFallOnMinuteAlignedMoments)
{
    Clock.Value = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 3, 500);
    Start();
    Form->SESpeed->setValue(7);
    EXPECT_EQ(Form->Timer1->interval(), 142);
    EXPECT_DOUBLE_EQ(Form->LabelInterval, 5.0 / 86400.0);
    const double due = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 5);
    EXPECT_NEAR(Form->NextLabelDue, due, 1e-9);

    Clock.Value = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 4, 900);
    Form->Timer1Timer();
    EXPECT_EQ(Form->FrameStamp, 0.0);
    Clock.Value = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 5, 100);
    Form->Timer1Timer();
    EXPECT_EQ(Form->FrameStamp, Clock.Value);
    EXPECT_NEAR(Form->NextLabelDue, Clock.Value + 5.0 / 86400.0, 1e-9);
}

TEST_F(WindowTest, SyncLoopRunsUntilTheStopClickAndShowsTheRate)
{
    Start();
    Form->RBSync->setChecked(true);
    EXPECT_FALSE(Form->SESpeed->isEnabled());
    int frames = 0;
    bool pacingLocked = true;
    Form->OnFrameProcessed = [&] {
        pacingLocked = pacingLocked && !Form->RBFast->isEnabled() && !Form->RBSlow->isEnabled();
        if (++frames == 30)
            QTimer::singleShot(0, Form->BtnStartStop, [this] { Form->BtnStartStop->click(); });
    };
    Form->BtnStartStop->click();
    EXPECT_GE(frames, 30);
    EXPECT_LT(frames, 1000);
    EXPECT_TRUE(pacingLocked);
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    EXPECT_TRUE(Form->RBFast->isEnabled());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+ FramesPerSec$"))
                    .match(Form->StatusText(2))
                    .hasMatch());
    EXPECT_EQ(Trace().filter(QStringLiteral("GetInputData")).size(), frames);
}

TEST_F(WindowTest, FftSizeChangeWhileRunningNeverMixesSizes)
{
    Start();
    Form->SESpeed->setValue(100); // 10 ms ticks, several of them inside each change
    int frames = 0, duringChange = 0, mismatched = 0;
    bool changing = false;
    Form->OnFrameProcessed = [&] {
        ++frames;
        duringChange += changing ? 1 : 0;
        const int n = static_cast<int>(Form->FFT->Size());
        mismatched += (Form->FftInput->Count != 2 * n || Form->FftOutput->Real->Count != n ||
                       static_cast<int>(Form->WaterfallLine.size()) != n)
                          ? 1
                          : 0;
    };
    Form->BtnStartStop->click();
    for (int exponent : {12, 8, 10, 11}) {
        RunEvents(40);
        changing = true;
        Form->SEFft->setValue(exponent);
        changing = false;
    }
    RunEvents(40);
    Form->BtnStartStop->click();
    EXPECT_GT(frames, 4);
    EXPECT_EQ(duringChange, 0);
    EXPECT_EQ(mismatched, 0);
}
