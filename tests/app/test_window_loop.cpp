#include "test_window_support.h"

// A tone in the given bin of the current FFT size.
static void FillTone(TForm1& Form, int Bin, int Amplitude)
{
    const int samples = 2 * static_cast<int>(Form.Recipe.N());
    for (int i = 0; i < TForm1::BlockSamples; ++i)
        Form.SampleBlock[i] = static_cast<int16_t>(
            i < samples ? std::lround(Amplitude * std::sin(M_PI * Bin * i / (samples / 2.0))) : 0);
}

static std::vector<float> Levels(const TForm1& Form)
{
    return {Form.Recipe.Levels(), Form.Recipe.Levels() + Form.Recipe.N()};
}

// An all-zero block reads -180 dBm; levels follow the exact formula from the window's
// own averages and mirror when inverted; exponent 8 uses only the first 512 samples.
TEST_F(WindowTest, FrameLevelsAndMirroring)
{
    Start();
    Form->SampleBlock.fill(0);
    Form->ProcessFrame();
    for (float level : Levels(*Form))
        ASSERT_NEAR(level, -180.0, 0.001);
    for (int exponent : {12, 8}) {
        Form->SEFft->setValue(exponent);
        const int n = static_cast<int>(Form->Recipe.N());
        FillTone(*Form, n / 5, 3000);
        Form->ProcessFrame();
        const std::vector<float> straight = Levels(*Form);
        for (int k = 0; k < n; ++k)
            ASSERT_NEAR(straight[k], 20 * std::log10(Form->Recipe.Averages()[k] / 16384.0 + 1e-9),
                        1e-3);
        EXPECT_GT(straight[n / 5], straight[n / 5 + 20] + 40.0f);
        Form->CBInverted->setChecked(true);
        Form->ProcessFrame();
        for (int k = 0; k < n; ++k)
            ASSERT_NEAR(Form->Recipe.Levels()[k], straight[n - 1 - k], 0.001) << k;
        Form->CBInverted->setChecked(false);
    }
    Form->ProcessFrame();
    const std::vector<float> clean = Levels(*Form);
    for (int i = 512; i < TForm1::BlockSamples; ++i)
        Form->SampleBlock[i] = static_cast<int16_t>((i * 7919) % 30000 - 15000);
    Form->ProcessFrame();
    EXPECT_EQ(Levels(*Form), clean);

    // The waterfall gets the visible slice of levels; averaging 64 moves each bin a 64th.
    Form->SEFft->setValue(12);
    Form->RGBW->setItemIndex(1); // 10 MHz: 1024 bins of 9.765625 kHz from centre - 5000 kHz
    FillTone(*Form, 1600, 4000);
    for (const auto& [centre, first] :
         {std::pair{20000, 1536}, std::pair{5000, 0}, std::pair{35000, 3072}}) {
        Form->SBFrq->setValue(centre);
        Form->ProcessFrame();
        EXPECT_EQ(Form->WaterfallLine, std::vector<float>(Form->Recipe.Levels() + first,
                                                          Form->Recipe.Levels() + first + 1024))
            << centre;
    }
    const std::vector<float> first(Form->Recipe.Averages(), Form->Recipe.Averages() + 4096);
    Form->SEAvg->setValue(64);
    Form->SampleBlock.fill(0);
    Form->ProcessFrame();
    for (int k = 1; k < 4096; ++k)
        ASSERT_NEAR(Form->Recipe.Averages()[k], first[k] * 63.0f / 64.0f, 1e-3f * first[k] + 1e-6f)
            << k;
}

// Slow scan reads every tick but processes a frame only when one is due.
TEST_F(WindowTest, PacingChoicesWhileRunningAndStopped)
{
    Start();
    Form->RBSlow->setChecked(true);
    Form->SESpeed->setValue(5);
    int processed = 0;
    Form->OnFrameProcessed = [&] { ++processed; };
    Form->BtnStartStop->click();
    EXPECT_EQ(Form->Timer1->interval(), 1000);
    EXPECT_FALSE(Form->RBFast->isEnabled());
    QStringList tickers;
    for (int second = 0; second < 12; ++second, Clock.Advance(1.001)) { // real ticks are late
        Form->Timer1Timer();
        tickers << Form->StatusText(4);
    }
    EXPECT_EQ(processed, 3); // at 0, 5 and 10 s
    EXPECT_EQ(Reads(), 12);
    // Longer than 10 characters: reset.
    EXPECT_EQ(tickers.mid(8, 3).join(u'|'), " *********| | *");
    Form->BtnStartStop->click();
    EXPECT_EQ(Form->StatusText(4), "");
    EXPECT_FALSE(Form->Timer1->isActive());

    // The pacing choice sets the speed's meaning and bound; while running, only the chosen
    // pacing stays selectable, and stopping frees all three again.
    // Which of the buttons are enabled, as 1 and 0.
    const auto enabledOf = [](std::initializer_list<const QAbstractButton*> Buttons) {
        QString text;
        for (const QAbstractButton* b : Buttons)
            text += b->isEnabled() ? '1' : '0';
        return text;
    };
    const auto enabled = [&] { return enabledOf({Form->RBSync, Form->RBFast, Form->RBSlow}); };
    // The speed box serves the two timed pacings only.
    Form->RBSync->setChecked(true);
    EXPECT_FALSE(Form->SESpeed->isEnabled());
    Form->RBFast->setChecked(true);
    EXPECT_TRUE(Form->SESpeed->isEnabled());
    Form->SESpeed->setValue(100);
    EXPECT_EQ(Form->GBSpeed->title(), "Framerate");
    EXPECT_EQ(Form->Timer1->interval(), 10); // a frame every 10 ms
    Form->BtnStartStop->click();
    EXPECT_EQ(enabled(), "010");
    Form->BtnStartStop->click();
    EXPECT_EQ(enabled(), "111");

    Form->RBSync->setChecked(true);
    Form->RBSlow->setChecked(true);
    EXPECT_TRUE(Form->SESpeed->isEnabled());
    EXPECT_EQ(Form->GBSpeed->title(), "Scaninterval [s]");
    EXPECT_EQ(Form->SESpeed->value(), 60);
    EXPECT_EQ(Form->Timer1->interval(), 1000);
    Form->BtnStartStop->click();
    EXPECT_EQ(enabled(), "001");
    Form->BtnStartStop->click();
    EXPECT_EQ(enabled(), "111");
    Form->RBFast->setChecked(true);
    EXPECT_EQ(Form->SESpeed->value(), 60); // within the frame rate's bound: kept
    EXPECT_EQ(Form->Timer1->interval(), 1000 / 60);
    Form->SESpeed->setValue(7);
    EXPECT_EQ(Form->Timer1->interval(), 142); // whole milliseconds of 1000 / 7

    // Playback has no slow scan and no recording, and only it loads files; leaving it brings
    // them back. A recording in turn keeps playback off until it ends.
    const auto files = [&] {
        return enabledOf(
            {Form->BtnRecord, Form->BtnLoadFile, Form->BtnPlayback, Form->BtnStartStop});
    };
    EXPECT_EQ(files(), "1011");
    Form->RBSlow->setChecked(true);
    Form->BtnPlayback->click();
    EXPECT_TRUE(Form->RBFast->isChecked());
    EXPECT_FALSE(Form->RBSlow->isVisibleTo(Form.get()) || Form->RBSlow->isEnabled());
    EXPECT_EQ(files(), "0110");
    Form->BtnPlayback->click();
    EXPECT_TRUE(Form->RBSlow->isVisibleTo(Form.get()) && Form->RBSlow->isEnabled());
    EXPECT_EQ(files(), "1011");
    Record(Dir.filePath(QStringLiteral("loop.spk")));
    EXPECT_EQ(files(), "1001");
    Form->BtnRecord->click();
    EXPECT_EQ(files(), "1011");
    EXPECT_FALSE(Form->PB->isVisibleTo(Form.get()));
}

TEST_F(WindowTest, FastScanLabelsFallOnMinuteAlignedMoments)
{
    const auto at = [](int Second, int Ms) {
        return quillex::EncodeDateTime(2026, 12, 6, 10, 0, Second, Ms);
    };
    Clock.Value = at(3, 500);
    Start();
    Form->SESpeed->setValue(7); // labels every 5 s
    EXPECT_NEAR(Form->NextLabelDue, at(5, 0), 1e-9);
    Clock.Value = at(4, 900);
    Form->Timer1Timer();
    EXPECT_EQ(Form->FrameStamp, 0.0);
    Clock.Value = at(5, 100);
    Form->Timer1Timer();
    EXPECT_EQ(Form->FrameStamp, Clock.Value);
    EXPECT_NEAR(Form->NextLabelDue, at(10, 100), 1e-9);
}

// Frames never see a half-changed size, and none is processed inside the change.
TEST_F(WindowTest, FftSizeChangeWhileRunningNeverMixesSizes)
{
    Start();
    Form->SESpeed->setValue(100); // 10 ms ticks, several of them inside each change
    int frames = 0, duringChange = 0, mismatched = 0;
    bool changing = false;
    Form->OnFrameProcessed = [&] {
        ++frames;
        duringChange += changing;
        const int n = 1 << Form->SEFft->value();
        mismatched += Form->Recipe.N() != n || Form->Recipe.FFT().Size() != n ||
                      static_cast<int>(Form->WaterfallLine.size()) != n;
    };
    Form->BtnStartStop->click();
    for (int exponent : {12, 8, 10, 11, 11}) {
        RunEvents(40);
        changing = true;
        Form->SEFft->setValue(exponent);
        changing = false;
    }
    Form->BtnStartStop->click();
    EXPECT_GT(frames, 4);
    EXPECT_EQ(duringChange + mismatched, 0);
}
