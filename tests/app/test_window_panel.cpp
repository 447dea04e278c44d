#include "test_window_support.h"

#include <QTest>

#include "MarkerReadout.h"

namespace {

class PanelTest : public WindowTest
{
protected:
    TPanelTools& P() const { return *Form->Panel; }
    // Typed into a field and entered, as the user does.
    void Type(QLineEdit* Field, const QString& Text)
    {
        Field->setFocus();
        Field->selectAll();
        QTest::keyClicks(Field, Text);
        QTest::keyClick(Field, Qt::Key_Return);
    }
    // Frames of the receiver (live) or of the loaded file (playback).
    void Frames(int Count)
    {
        for (int i = 0; i < Count; ++i)
            Form->Timer1Timer();
    }
    // The number in a read-out text after its label, e.g. "-62.31" of "CH 10.0 kHz  -62.31 dBm".
    double Value(const QString& Starts, int Field)
    {
        for (const QString& t : Form->Channel->Readout->Texts())
            if (t.startsWith(Starts))
                return t.split(' ', Qt::SkipEmptyParts).value(Field).toDouble();
        ADD_FAILURE() << "no " << Starts.toStdString();
        return NAN;
    }
};

// The plot's top is Ref as displayed (here with a level offset of 3.5 dB), ten divisions of the
// scale below it, the grid on each division. The spin box, the choice box and the keys set them
// (Up and Down stay with a focused spin box); a zoom comes back to the panel's view.
TEST_F(PanelTest, RefAndScaleSetTheRangeAndTheGrid)
{
    WriteIni("[Offsets]\nEnabled=1\nLeveldB=3.5\n");
    StartShown();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    Form->BtnGrid->click();
    TDXHistograph* h = Form->Histo;
    const auto key = [&](int Key, Qt::KeyboardModifiers Modifiers, QWidget* Focus) {
        Focus->setFocus();
        QTest::keyClick(Focus, Qt::Key(Key), Modifiers);
    };
    QWidget* button = Form->BtnStartStop;
    const std::tuple<std::function<void()>, int, int> steps[] = {
        {[] {}, 0, 14},
        {[&] { P().SERef->setValue(-20); }, -20, 14},
        {[&] { P().CBDbPerDiv->setCurrentIndex(P().CBDbPerDiv->findText("5")); }, -20, 5},
        {[&] { key(Qt::Key_Up, Qt::NoModifier, button); }, -15, 5},
        {[&] { key(Qt::Key_Down, Qt::ShiftModifier, button); }, -15, 2},
        {[&] { key(Qt::Key_Up, Qt::NoModifier, Form->SEAvg); }, -15, 2},
        {[&] { key(Qt::Key_Up, Qt::ShiftModifier, button); }, -15, 5},
        {[&] { key(Qt::Key_Up, Qt::ShiftModifier, button); }, -15, 10},
        {[&] {
             h->setMode(modeZoom);
             const QPoint a = h->PlotRect().center(), b = a + QPoint(60, 40);
             QTest::mousePress(h, Qt::LeftButton, {}, a);
             QTest::mouseMove(h, b);
             QTest::mouseRelease(h, Qt::LeftButton, {}, b);
             ASSERT_TRUE(h->Zoomed());
             key(Qt::Key_Down, Qt::NoModifier, button);
         },
         -25, 10}};
    for (const auto& [step, ref, div] : steps) {
        step();
        SCOPED_TRACE(testing::Message() << ref << " " << div);
        EXPECT_FALSE(h->Zoomed());
        EXPECT_FLOAT_EQ(h->ViewYMax(), ref - 3.5f);
        EXPECT_FLOAT_EQ(h->ViewYMin(), ref - 3.5f - 10 * div);
        // Grid lines inside the plot: one per division, at its tenth of the height.
        h->RenderNow();
        const QImage& s = h->Surface();
        const QRect plot = h->PlotRect();
        const QRgb grid = ColorToQColor(h->GridColor()).rgb();
        const int x = plot.left() + 3; // clear of the vertical lines at 12.5 MHz steps
        std::vector<int> rows;
        for (int y = plot.top() + 2; y < plot.bottom() - 1; ++y)
            if (s.pixel(x, y) == grid)
                rows.push_back(y);
        ASSERT_EQ(rows.size(), 9u);
        for (int k = 1; k <= 9; ++k)
            EXPECT_NEAR(rows[size_t(9 - k)], plot.bottom() + 1 - k * plot.height() / 10.0, 1.0);
        QString top;
        Form->HistoYAxis(h->ViewYMax(), top);
        EXPECT_EQ(top, QString::asprintf("[dBm] %2d", ref));
    }
    EXPECT_EQ(Form->SEAvg->value(), 2);
    EXPECT_EQ(P().CBDbPerDiv->count(), 5); // the legacy 14 is gone
}

// A typed centre and a 1 MHz span move the plot and the waterfall together: the waterfall takes
// the span's 102 bins from its left edge, each over several columns, and shows the carrier under
// the plot's. "Bandwidth" sets the span; a bad text is reported and changes nothing.
TEST_F(PanelTest, TypedCentreAndSpanMoveThePlotAndTheWaterfall)
{
    StartDebug4096();
    const TTone carrier{14.30061, 3000};
    WriteRecording(Path("tone.spk"), {ToneBlock({carrier}), ToneBlock({carrier})});
    Load(Path("tone.spk"));
    Type(P().EdtCenter, "14.25");
    Type(P().EdtSpan, "1");
    PlaySync();
    EXPECT_TRUE(Form->Histo->ViewXCurrentMin() == 13750 && Form->Histo->ViewXCurrentMax() == 14750);
    EXPECT_EQ(Form->RGBW->ItemIndex(), -1);
    const int start = int(std::lround(13750 / (BinMHz * 1000))), length = 102;
    ASSERT_TRUE(Form->ViewStartBin == start && std::ssize(Form->WaterfallLine) == length);
    const auto loudest = std::max_element(Form->WaterfallLine.begin(), Form->WaterfallLine.end());
    EXPECT_EQ(start + (loudest - Form->WaterfallLine.begin()), std::lround(carrier.MHz / BinMHz));
    EXPECT_LE(WaterfallOffPlot(*Form, length), 1.0);

    Form->RGBW->setItemIndex(1);
    EXPECT_EQ(P().EdtSpan->text() + " " + P().EdtCenter->text(), "10 14.250");
    // A centre near the spectrum's end narrows the span, down to 64 bins; a span too wide for
    // the centre moves it.
    for (const auto& [field, text, shown] : {std::tuple{P().EdtCenter, "39.9", "0.625 39.6875"},
                                             std::tuple{P().EdtSpan, "0.1", "0.625 39.6875"},
                                             std::tuple{P().EdtCenter, "x", "0.625 39.6875"},
                                             std::tuple{P().EdtCenter, "0.1", "0.625 0.3125"},
                                             std::tuple{P().EdtSpan, "5", "5 2.500"}}) {
        Type(field, text);
        EXPECT_EQ(P().EdtSpan->text() + " " + P().EdtCenter->text(), shown) << text;
    }
    EXPECT_EQ(Prompts.Errors, QStringList{"'x' ist kein gültiger Gleitkommawert"});
    EXPECT_TRUE(Form->Histo->ViewXCurrentMin() == 0 && Form->Histo->ViewXCurrentMax() == 5000);
}

// With "Input levels" on, the simulator's steady carrier at 5 MHz (-68 dBm at the antenna) reads
// one level whatever the attenuator: its dB go into the level offset, which the status bar and the
// read-out name and a recording's header carries, so the recording plays back at that level.
TEST_F(PanelTest, InputLevelsKeepACarriersLevelThroughTheAttenuator)
{
    Start();
    Form->SEFft->setValue(12);
    Type(P().EdtCenter, "5");
    Type(P().EdtSpan, "1");
    P().CBInputLevels->setChecked(true);
    Frames(2);
    Form->Measure->ActPeak->trigger();
    const auto level = [&] {
        Frames(3);
        return Form->Measure->Reading(1).Dbm;
    };
    const double first = level();
    EXPECT_NEAR(first, -68, 0.5);
    for (const int step : {1, 3, 0, 2}) {
        Form->RGAtt->setItemIndex(step);
        // 30 dB down the carrier stands less far above the receiver's own noise, which then
        // moves its bin by more than half a dB; a step not corrected would be 10 dB off.
        EXPECT_NEAR(level(), first, step == 3 ? 1.5 : 0.5) << step;
        const QString text = QStringLiteral("Input levels +%1 dB").arg(10 * step);
        EXPECT_TRUE(P().LblInputLevels->text() == text &&
                    Form->Channel->Readout->Texts().contains(text));
    }
    P().CBInputLevels->setChecked(false);
    EXPECT_NEAR(level(), first - 20, 0.5);
    EXPECT_FALSE(P().LblInputLevels->isVisibleTo(Form.get()));

    P().CBInputLevels->setChecked(true);
    Record(Path("input.spk"));
    Form->BtnStartStop->click();
    Frames(3);
    Form->BtnStartStop->click();
    Load(Path("input.spk"));
    PlaySync();
    EXPECT_EQ(Form->LevelOffset, 20.0f);
    EXPECT_NEAR(Form->Measure->Reading(1).Dbm, first, 0.5);
    // Live again, the attenuator's 20 dB are corrected once, not on top of the file's offset.
    Form->BtnPlayback->click();
    EXPECT_EQ(Form->LevelOffset, 20.0f);
    EXPECT_EQ(Form->EdtLevelOffset->text(), QStringLiteral("0.0"));
}

// Auto level on the simulator's steady carrier at 5 MHz (-68 dBm) in a 1 MHz span: Ref is the
// carrier rounded up to a division, plus one; the scale the least step that leaves the noise in
// one bin two divisions or more above the bottom. The noise is measured here from the trace: the
// powers of noise in a bin are exponential, their median ln 2 times their mean.
TEST_F(PanelTest, AutoLevelOnTheSimulatorsCarrier)
{
    Start();
    Form->SEFft->setValue(12);
    Type(P().EdtCenter, "5");
    Type(P().EdtSpan, "1");
    Frames(1);
    std::vector<double> powers;
    for (int k = Form->ViewStartBin; k < Form->ViewStartBin + std::ssize(Form->WaterfallLine); ++k)
        if (std::abs(k - 512) > 5) // clear of the carrier's bins
            powers.push_back(std::pow(10.0, Form->Recipe.Levels()[k] / 10));
    std::nth_element(powers.begin(), powers.begin() + std::ssize(powers) / 2, powers.end());
    const double noise = 10 * std::log10(powers[powers.size() / 2] / std::log(2.0));
    int ref = 0, div = 0;
    for (const int step : {20, 10, 5, 2, 1}) {
        const int top = step * (int(std::ceil(-68.0 / step)) + 1);
        if (noise >= top - 8 * step)
            std::tie(ref, div) = std::pair{top, step};
    }
    P().BtnAutoLevel->click();
    EXPECT_TRUE(P().Scale() == quillex::TLevelScale({ref, div})) << noise;
    EXPECT_EQ(Form->Histo->ViewYMax(), float(ref));
}

// The band between two markers holds the strong carrier between them whole (the weak carriers
// the markers sit on add a ten-thousandth) and the noise of its bins, the sum divided by Hann's
// noise bandwidth; the occupied bandwidth leaves 0.5 % of the power in each of the carrier's
// outer bins, which hold a quarter of its on-bin power each. Marker 1 alone: a 10 kHz channel
// holds its carrier's bin, 1 / 1.5 of the carrier, a 200 kHz one all of it. The noise density
// and the SNR follow from the noise's variance. The band is shaded through the plot's overlay:
// new frames still repaint only the curves.
TEST_F(PanelTest, ChannelNoiseAndSnrFromTheSignal)
{
    StartDebug4096();
    const double sigma = 10, variance = sigma * sigma + 1.0 / 12,
                 enbw = 2 * N * HannSum(2) / std::pow(HannSum(1), 2);
    const TTone w1{1430 * BinMHz, 30}, strong{1460 * BinMHz, 3000}, w2{1490 * BinMHz, 30};
    const auto power = [](double Amplitude) {
        return std::pow(Amplitude * HannSum(1) / N / 16384, 2);
    };
    const double noise = 4 * variance * HannSum(2) / N / N / 16384 / 16384;
    const auto db = [](double P) { return 10 * std::log10(P); };
    std::mt19937 rng(11);
    std::vector<std::vector<int16_t>> blocks;
    for (int i = 0; i < 40; ++i)
        blocks.push_back(ToneBlock({w1, strong, w2}, sigma, &rng));
    WriteRecording(Path("tones.spk"), blocks);
    Form->SEAvg->setValue(8);
    Load(Path("tones.spk"));
    Form->RGBW->setItemIndex(0);
    Form->SBFrq->setValue(14500);
    PlaySync();
    for (const auto& [number, tone] : {std::pair{1, w1}, std::pair{2, w2}}) {
        Prompts.Numbers.push_back(tone.MHz);
        Form->Measure->MarkerToFrequencyClick(number);
    }
    PlaySync();
    EXPECT_NEAR(Value("M1..M2", 1), db(power(3000) + 61 * noise / enbw), 0.05);
    EXPECT_NEAR(Value("M1..M2", 4), (3 - 2 * 0.005 * 1.5 / 0.25) * BinMHz * 1000, 0.1);
    EXPECT_NEAR(Value("Noise", 1), db(noise / enbw / (BinMHz * 1e6)), 0.5);
    EXPECT_NEAR(Value("M1 SNR", 2), db(power(30) / noise), 0.5);
    EXPECT_TRUE(Form->Histo->RefreshedCurvesOnly());

    Form->Measure->MarkerOffClick(2);
    for (const auto& [kHz, bins, part] :
         {std::tuple{10.0, 1, 1 / 1.5}, std::tuple{200.0, 21, 1.0}}) {
        Form->Channel->SEChannel->setValue(kHz);
        EXPECT_NEAR(Value(QString::asprintf("CH %.1f kHz", kHz), 3),
                    db(part * power(30) + bins * noise / enbw), 0.15)
            << kHz;
        // Shaded: the columns from the band's low edge to its high one, at the plot's top.
        const TDXHistograph* h = Form->Histo;
        const QRect plot = h->PlotRect();
        const auto column = [&](double MHz) {
            return int(plot.left() + (MHz * 1000 - 12000) / 5000 * plot.width());
        };
        const double mhz = Form->Measure->Reading(1).MHz;
        const int left = column(mhz - kHz / 2000), right = column(mhz + kHz / 2000);
        for (int x = left - 2; x <= right + 2; ++x)
            EXPECT_EQ(h->Surface().pixel(x, plot.top() + 1) != qRgb(0, 0, 0),
                      x >= left && x <= right)
                << x;
    }
}

} // namespace
