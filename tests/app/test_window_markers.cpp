#include "test_window_support.h"

#include <QTest>

#include "IniFileU.h"
#include "MarkerReadout.h"
#include "MarkerTable.h"

namespace {

// Where a tone shows on the axis: mirrored about the last bin when inverted, offset added.
double ShownMHz(double MHz, const THeader& H)
{
    const double bin = MHz / BinMHz;
    return H.FreqOffset + (H.Inverted ? N - 1 - bin : bin) * BinMHz;
}

// The printed value lies well inside its last digit, so the estimator's tiny error (a few
// thousandths of a bin, a thousandth of a dB) cannot flip it.
void ExpectClearOfRounding(double Value, int Decimals)
{
    const double scaled = std::fabs(Value) * std::pow(10.0, Decimals);
    EXPECT_GT(std::fabs(scaled - std::floor(scaled) - 0.5), 0.1) << Value << ": other tones";
}

// A marker's read-out from its tone: four decimals of a MHz at N = 4096 (0.1 kHz is the coarsest
// digit within a tenth of the 9.77 kHz bin), two of a dB.
QString MarkerText(int Number, const TTone& Tone, const THeader& H)
{
    const double mhz = ShownMHz(Tone.MHz, H), dbm = OnBinDbm(Tone.Amplitude) + H.LevelOffset;
    ExpectClearOfRounding(mhz, 4);
    ExpectClearOfRounding(dbm, 2);
    return QString::asprintf("M%d %.4f MHz  %.2f dBm", Number, mhz, dbm);
}

// Hann's resolution bandwidth, its equivalent noise bandwidth: 2N sum(w^2) / sum(w)^2 bins.
QString RbwText()
{
    const double bins = 2 * N * HannSum(2) / std::pow(HannSum(1), 2);
    return QString::asprintf("RBW %.1f kHz", bins * 40000.0 / N);
}

// A 5 MHz span around 14.5 MHz holds four tones; a stronger one lies outside it.
const TTone Left{13.90061, 1500}, Strongest{14.25043, 3000}, Right{14.37543, 800},
    Far{15.10021, 400}, Outside{20.3, 8000};
const std::vector<TTone> Tones{Left, Strongest, Right, Far, Outside};

class MarkerTest : public WindowTest
{
protected:
    // Loads a recording and plays it in "Harddisk sync", which returns at its end; then shows
    // the span given (loading re-selects the bandwidth).
    void Play(const QString& File, int CentreKHz = 14500, const std::function<void()>& Watch = {})
    {
        Form->OnFrameProcessed = Watch;
        Load(File);
        Form->RGBW->setItemIndex(0);
        Form->SBFrq->setValue(CentreKHz);
        PlaySync();
        ASSERT_FALSE(Form->BtnStartStop->isChecked());
    }

    void PlayTones(const THeader& H, int CentreKHz = 14500)
    {
        WriteRecording(Path("tones.spk"), {ToneBlock(Tones), ToneBlock(Tones)}, H);
        Play(Path("tones.spk"), CentreKHz);
    }

    TMeasureTools& M() const { return *Form->Measure; }
    QStringList Readout() const { return M().Readout->Texts(); }
};

} // namespace

// A carrier on a bin shows one level whatever the FFT window: its bin of the trace and the
// marker "Peak" puts on it read the level Hann gives.
TEST_F(MarkerTest, OnBinCarrierReadsOneLevelWithEveryWindow)
{
    StartDebug4096();
    const TTone carrier{1450 * BinMHz, 3000};
    WriteRecording(Path("carrier.spk"), {ToneBlock({carrier})});
    for (int window = 0; window < 4; ++window) {
        Form->RGFenster->setItemIndex(window);
        Play(Path("carrier.spk"));
        M().ActPeak->trigger();
        for (const float level : {Form->Recipe.Levels()[1450], Form->Histo->Marker(1).Y})
            EXPECT_NEAR(level, OnBinDbm(carrier.Amplitude), 0.01) << window;
    }
}

// "Peak" takes the strongest tone inside the span (not the stronger one outside it) with its
// interpolated frequency and on-bin level, both offsets added; "Next peak left/right" go to the
// nearest peak on that side of the display whatever its level (mirrored: the spectrum's other
// side) and stay where there is none; "Next peak" goes down the peaks by level; marker 2 starts
// on the highest peak apart from marker 1's, with the difference. The plot marks them there.
TEST_F(MarkerTest, PeakNextPeaksAndTheDelta)
{
    StartDebug4096();
    for (bool inverted : {false, true}) {
        SCOPED_TRACE(inverted);
        const THeader h{1.25, 10.0, inverted};
        PlayTones(h, inverted ? 25500 : 14500); // mirrored, the tones show around 25.5 MHz
        M().ActMarkersOff->trigger();
        EXPECT_FALSE(M().Readout->isVisibleTo(Form.get()));
        M().ActNextPeakRight->trigger(); // without a marker: "Peak"
        EXPECT_EQ(Readout(), QStringList({MarkerText(1, Strongest, h), RbwText()}));
        EXPECT_TRUE(M().Readout->isVisibleTo(Form.get()));
        EXPECT_NEAR(Form->Histo->Marker(1).Y, OnBinDbm(Strongest.Amplitude), 0.01);

        // The rule over the tones' displayed frequencies.
        const auto next = [&](const TTone& From, bool ToLeft) {
            // Copies: the braced list's tones live only as long as the loop.
            TTone best = From;
            const auto distance = [&](const TTone& T) {
                return ShownMHz(T.MHz, h) - ShownMHz(From.MHz, h);
            };
            for (const TTone& t : {Left, Strongest, Right, Far})
                if ((ToLeft ? distance(t) < 0 : distance(t) > 0) &&
                    (best.MHz == From.MHz || std::fabs(distance(t)) < std::fabs(distance(best))))
                    best = t;
            return best;
        };
        TTone at = Strongest;
        int moves = 0;
        for (bool left : {true, true, false, false, false, true}) {
            (left ? M().ActNextPeakLeft : M().ActNextPeakRight)->trigger();
            const TTone expected = next(at, left);
            moves += expected.MHz != at.MHz;
            at = expected;
            ASSERT_NEAR(ShownMHz(M().MarkerBin(1) * BinMHz, h), ShownMHz(at.MHz, h), 0.01 * BinMHz)
                << "move " << moves;
            ASSERT_NEAR(Form->Histo->Marker(1).X, (ShownMHz(at.MHz, h) - h.FreqOffset) * 1000,
                        0.01 * BinMHz * 1000); // the axis adds the offset
        }
        EXPECT_GE(moves, 4);
        M().ActPeak->trigger();
        for (const TTone& to : {Left, Right, Far, Far}) { // down by level, then no lower
            M().ActNextLower->trigger();
            ASSERT_NEAR(M().MarkerBin(1) * BinMHz, to.MHz, 0.01 * BinMHz) << to.MHz;
        }

        M().ActPeak->trigger();
        // Shift+P: the strongest but marker 1's; then two peaks on towards marker 1.
        const bool toRight = ShownMHz(Strongest.MHz, h) > ShownMHz(Left.MHz, h);
        for (const auto& [to, steps] : {std::pair{Left, 0}, std::pair{Right, 2}}) {
            if (steps == 0)
                M().ActPeak2->trigger();
            for (int i = 0; i < steps; ++i)
                (toRight ? M().ActNextPeakRight2 : M().ActNextPeakLeft2)->trigger();
            const double kHz = (ShownMHz(to.MHz, h) - ShownMHz(Strongest.MHz, h)) * 1000;
            const double db = OnBinDbm(to.Amplitude) - OnBinDbm(Strongest.Amplitude);
            ExpectClearOfRounding(kHz, 1);
            ExpectClearOfRounding(db, 2);
            EXPECT_EQ(
                Readout(),
                QStringList({MarkerText(1, Strongest, h), MarkerText(2, to, h),
                             QString::asprintf("M2-M1 %+.1f kHz  %+.2f dB", kHz, db), RbwText()}));
            EXPECT_TRUE(Form->Histo->Marker(2).Shown);
        }
    }
    // The whole spectrum in view: the tone at 20.3 MHz is the highest. A new FFT size keeps the
    // marker's frequency, read with the digits of the new bins.
    Form->CBInverted->setChecked(false);
    Form->RGBW->setItemIndex(3);
    M().ActPeak->trigger();
    Form->SEFft->setValue(11);
    EXPECT_NEAR(M().MarkerBin(1) * 40.0 / 2048, Outside.MHz, 0.01 * BinMHz);
    EXPECT_TRUE(Readout().value(0).startsWith("M1 21.550 MHz  ")) << Readout().value(0);
    // Three decimals of a MHz: the difference in whole kHz.
    M().ActPeak2->trigger();
    EXPECT_TRUE(QRegularExpression("^M2-M1 [+-]\\d+ kHz  [+-]\\d+\\.\\d\\d dB$")
                    .match(Readout().value(2))
                    .hasMatch())
        << Readout().value(2);
    M().ActMarkersOff->trigger();
    EXPECT_FALSE(Form->Histo->Marker(1).Shown || Form->Histo->Marker(2).Shown);
}

// A marker goes to the peak nearest the place the user points at (the context menu's "Marker
// here", Ctrl+click, Ctrl+Shift+click for marker 2) or the frequency typed, as displayed; where
// no peak is near, onto that place's bin; a frequency outside the spectrum is refused. The
// read-out marks a marker left of the view; the table's deltas are to its chosen reference, and
// the places are kept in the settings file.
TEST_F(MarkerTest, MarkersWhereTheUserPointsOrTypesTheTableAndTheSettings)
{
    StartDebug4096();
    Form->show();
    const THeader h{1.25, 0.0, false};
    PlayTones(h);
    TDXHistograph* plot = Form->Histo;
    const auto pixel = [&](double MHz) {
        return QPoint(plot->XToPixel(float(MHz * 1000)), plot->PlotRect().center().y());
    };
    const double binsPerPixel = 5000.0 / plot->PlotRect().width() / (BinMHz * 1000);
    ASSERT_GT(40000.0 / plot->PlotRect().width() / (BinMHz * 1000), 5.0);
    const double empty = 16.5; // no tone within 60 bins
    const auto menuHere = [&](QAction* Here, double MHz) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pixel(MHz),
                                plot->mapToGlobal(pixel(MHz)));
        QCoreApplication::sendEvent(plot, &event);
        Here->trigger();
        Form->HistoMenu->close();
    };
    const auto click = [&](Qt::KeyboardModifiers Modifiers, double MHz) {
        QTest::mouseClick(plot, Qt::LeftButton, Modifiers, pixel(MHz));
    };
    const auto typed = [&](double MHz) {
        Prompts.Numbers = {ShownMHz(MHz, h)};
        M().ActMarkerToFrequency->trigger();
    };
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const std::vector<std::tuple<const char*, std::function<void()>, int, double>> cases{
        {"here", [&] { menuHere(M().ActMarkerHere, Right.MHz + 3 * BinMHz); }, 1, Right.MHz},
        {"here 2", [&] { menuHere(M().ActMarker2Here, Far.MHz - 2 * BinMHz); }, 2, Far.MHz},
        {"here, none", [&] { menuHere(M().ActMarkerHere, empty); }, 1, empty},
        {"Ctrl+click", [&] { click(ctrl, Left.MHz + 2 * BinMHz); }, 1, Left.MHz},
        {"Ctrl+Shift+click", [&] { click(ctrl | Qt::ShiftModifier, Right.MHz); }, 2, Right.MHz},
        {"typed", [&] { typed(Strongest.MHz + 1.6 * BinMHz); }, 1, Strongest.MHz},
        {"typed, none", [&] { typed(Strongest.MHz + 3 * BinMHz); }, 1, Strongest.MHz + 3 * BinMHz},
        {"typed, outside", [&] { typed(40.01); }, 1, Strongest.MHz + 3 * BinMHz},
        {"here, whole spectrum", // 3 pixels hold 17 bins: the nearest of two tones
         [&] {
             Form->RGBW->setItemIndex(3);
             menuHere(M().ActMarkerHere, Right.MHz + 4 * BinMHz);
             Form->RGBW->setItemIndex(0);
             Form->SBFrq->setValue(14500);
         },
         1, Right.MHz}};
    for (const auto& [what, act, number, mhz] : cases) {
        act();
        const bool onTone =
            mhz == Left.MHz || mhz == Right.MHz || mhz == Far.MHz || mhz == Strongest.MHz;
        const double within = onTone ? 0.01 : mhz == empty ? binsPerPixel / 2 + 0.5 : 0.5;
        EXPECT_NEAR(M().MarkerBin(number), mhz / BinMHz, within) << what;
    }
    EXPECT_EQ(Prompts.Errors.size(), 1);

    // Marker 6, the last, from the table: the keys and "Marker here" move its chosen row.
    M().ActPeak->trigger();
    M().ActMarkerTable->trigger();
    TMarkerTable* table = M().Table();
    ASSERT_TRUE(table && table->isVisible());
    table->Select(6);
    M().ActPeak->trigger();
    EXPECT_NEAR(M().MarkerBin(6) * BinMHz, Left.MHz, 0.01 * BinMHz); // the strongest not taken
    menuHere(M().ActMarkerHere, Strongest.MHz);
    table->SetReference(6);
    const auto delta = [&](const TTone& T) {
        return QStringList{
            QString::asprintf("%+.1f", (T.MHz - Strongest.MHz) * 1000),
            QString::asprintf("%+.2f", OnBinDbm(T.Amplitude) - OnBinDbm(Strongest.Amplitude))};
    };
    for (const auto& [number, want] : {std::pair{1, delta(Strongest)}, std::pair{2, delta(Right)},
                                       std::pair{6, QStringList{"ref", "ref"}}}) {
        EXPECT_EQ((QStringList{table->Text(number, TMarkerTable::colDeltaKHz),
                               table->Text(number, TMarkerTable::colDeltaDb)}),
                  want)
            << number;
    }
    EXPECT_EQ(table->Text(4, TMarkerTable::colMHz), "");
    Form->SBFrq->setValue(17000); // 14.5 to 19.5 MHz: marker 1 lies left of the view
    EXPECT_TRUE(Readout().value(0).startsWith("M1 < ")) << Readout().value(0);

    Prompts.Answers = {TPrompts::TAnswer::Yes};
    ASSERT_TRUE(CloseWindow());
    StartDebug4096();
    for (const auto& [number, mhz] :
         {std::pair{1, Strongest.MHz}, std::pair{2, Right.MHz}, std::pair{6, Strongest.MHz}})
        EXPECT_NEAR(M().MarkerBin(number) * BinMHz, mhz, 0.01 * BinMHz) << number;
    EXPECT_FALSE(M().MarkerPlaced(4));
    M().ActMarkerTable->trigger();
    EXPECT_EQ(M().Table()->Reference(), 6);
}

// A marker follows a drifting tone, which a stronger tone 6 bins away does not take from it;
// a weak carrier alone in noise (8 dB over it, where a peak by the search's rules needs 12)
// still takes "Peak", and its marker stays on it rather than wandering off into the noise.
TEST_F(MarkerTest, MarkersFollowTheirTones)
{
    StartDebug4096();
    std::mt19937 rng(11);
    const TTone weak{14.61234, 7.0};
    std::vector<std::vector<int16_t>> blocks;
    for (int f = 0; f < 8; ++f)
        blocks.push_back(ToneBlock(
            {{Strongest.MHz + 0.45 * f * BinMHz, 2000}, {Strongest.MHz + 9.6 * BinMHz, 6000}}));
    for (int f = 0; f < 40; ++f)
        blocks.push_back(ToneBlock({weak}, 100.0, &rng));
    WriteRecording(Path("follow.spk"), blocks);
    std::vector<double> followed;
    Play(Path("follow.spk"), 14500, [&] {
        const size_t frame = followed.size();
        if (frame == 0) {
            M().ActPeak->trigger(); // the stronger tone: then down to the drifting one
            M().ActNextPeakLeft->trigger();
        } else if (frame == 8) {
            Form->SEAvg->setValue(16);
        } else if (frame == 28) {
            M().ActPeak->trigger();
        }
        followed.push_back(M().MarkerBin(1) * BinMHz);
    });
    ASSERT_EQ(followed.size(), blocks.size());
    for (size_t f = 0; f < 8; ++f)
        EXPECT_NEAR(followed[f], Strongest.MHz + 0.45 * f * BinMHz, 0.01 * BinMHz) << f;
    for (size_t f = 28; f < followed.size(); ++f)
        ASSERT_NEAR(followed[f], weak.MHz, 0.5 * BinMHz) << "frame " << f;
    // It reads the carrier's level, which the noise raises by about half a dB here.
    EXPECT_NEAR(Readout().value(0).split(' ', Qt::SkipEmptyParts).value(3).toDouble(),
                OnBinDbm(weak.Amplitude), 1.5);
}

// With nothing standing out by the search's rules, "Peak" takes the highest local maximum of the
// span, up to its first and last bins, and none beyond them however high.
TEST_F(MarkerTest, PeakWithoutAStandoutTakesTheHighestBumpUpToTheSpansEdges)
{
    StartDebug4096();
    Form->RGBW->setItemIndex(0);
    Form->SBFrq->setValue(14500); // 12 to 17 MHz: the bins from 12000 / 9.765625 = 1228.8 up
    for (const int edge : {1229, 1740}) {
        SCOPED_TRACE(edge);
        // The trace the peak search reads, written here.
        float* averages = const_cast<float*>(Form->Recipe.Averages());
        std::fill(averages, averages + N, 100.0f);
        for (const auto& [bin, height] : {std::pair{1500, 102.0f}, std::pair{edge, 103.0f},
                                          std::pair{1226, 110.0f}, std::pair{1743, 110.0f}})
            averages[bin] = height;
        M().ActPeak->trigger();
        EXPECT_NEAR(M().MarkerBin(1), edge, 0.5); // within the bump's bin
    }

    // A marker whose tone has gone, with no peak near it, stays on its bin and reads the trace's
    // level there: here the far skirt of a tone 30 bins away, falling steadily (rectangular
    // window).
    Form->RGFenster->setItemIndex(0);
    const TTone away{Strongest.MHz + 30.5 * BinMHz, 8000};
    WriteRecording(Path("gone.spk"),
                   {ToneBlock({Strongest}), ToneBlock({away}), ToneBlock({away})});
    int frame = 0;
    Play(Path("gone.spk"), 14500, [&] {
        if (frame++ == 0)
            M().ActPeak->trigger();
    });
    ASSERT_EQ(frame, 3);
    const int k = int(std::lround(M().MarkerBin(1)));
    EXPECT_EQ(k, int(std::lround(Strongest.MHz / BinMHz)));
    const double level = Readout().value(0).split(' ', Qt::SkipEmptyParts).value(3).toDouble();
    EXPECT_NEAR(level, Form->Recipe.Levels()[size_t(k)], 0.006);
    EXPECT_LT(Form->Recipe.Levels()[size_t(k)], Form->Recipe.Levels()[size_t(k + 1)]);
}

// The keys act while the window is active, and not while a text field has the focus: there
// the field takes P and Ctrl+arrows as it always did. The About box names them. The read-out line
// is never cut: with both markers, the delta and a long frequency offset it asks for the room its
// texts need and gets it at the window's least width. Neither it nor the "Traces" group widens the
// window: it stays within 960 pixels (a 1920 pixel screen at scale 2) and the group fits the
// designed settings panel.
TEST_F(MarkerTest, KeysPlaceMarkersUnlessATextFieldHasTheFocusAndTheReadoutFits)
{
    StartDebug4096("[Offsets]\nEnabled=1\n");
    Form->show();
    QCoreApplication::processEvents();
    const int leastBefore = Form->minimumSizeHint().width();
    PlayTones({});
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    const auto press = [](QWidget* Target, int Key, Qt::KeyboardModifiers Modifiers) {
        Target->setFocus();
        QTest::keyClick(Target, Qt::Key(Key), Modifiers);
    };
    const QString text = Form->EdtFrqOffset->text();
    for (QWidget* field :
         {static_cast<QWidget*>(Form->EdtFrqOffset), static_cast<QWidget*>(Form->SEAvg)}) {
        Form->EdtFrqOffset->setCursorPosition(0);
        press(field, Qt::Key_P, Qt::NoModifier);
        press(field, Qt::Key_P, Qt::ShiftModifier);
        press(field, Qt::Key_Right, Qt::ControlModifier);
        EXPECT_EQ(Form->EdtFrqOffset->cursorPosition() > 0, field == Form->EdtFrqOffset);
        press(field, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    }
    EXPECT_FALSE(M().MarkerPlaced(1) || M().MarkerPlaced(2));
    EXPECT_EQ(Form->EdtFrqOffset->text(), text);
    EXPECT_EQ(Form->SEAvg->value(), 1);

    // On a button: P, Ctrl+arrows and N for marker 1, with Shift for marker 2.
    const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
    for (const auto& [key, modifiers, number, tone] :
         {std::tuple{Qt::Key_P, none, 1, Strongest}, std::tuple{Qt::Key_Right, ctrl, 1, Right},
          std::tuple{Qt::Key_Left, ctrl, 1, Strongest}, std::tuple{Qt::Key_N, none, 1, Left},
          std::tuple{Qt::Key_P, shift, 2, Strongest},
          std::tuple{Qt::Key_Left, ctrl | shift, 2, Left},
          std::tuple{Qt::Key_Right, ctrl | shift, 2, Strongest},
          std::tuple{Qt::Key_N, shift, 2, Left}}) {
        press(Form->BtnStartStop, key, modifiers);
        EXPECT_NEAR(M().MarkerBin(number) * BinMHz, tone.MHz, 0.01 * BinMHz) << key;
    }
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Left.MHz, 0.01 * BinMHz);
    // Screen readers read the line as its accessible name: at once after a quiet while, then
    // at most four times a second, the last text always arriving.
    QTest::qWait(600); // the last name arrives, and a quiet while after it
    QElapsedTimer since;
    since.start();
    for (const int key : {Qt::Key_P, Qt::Key_N}) {
        press(Form->BtnStartStop, key, none);
        // A busy machine may take longer than the interval between the two.
        if (key == Qt::Key_P || since.elapsed() < 200) {
            EXPECT_EQ(M().Readout->accessibleName() == M().Readout->Text(), key == Qt::Key_P);
        }
    }
    QTest::qWait(300);
    EXPECT_EQ(M().Readout->accessibleName(), M().Readout->Text());
    EXPECT_TRUE(M().Readout->Text().startsWith(MarkerText(1, Left, {})));

    for (const char* key : {"P puts marker 1", "Ctrl+Left", "Ctrl+Right", "Shift+P", "Ctrl+click"})
        EXPECT_TRUE(Form->AboutText().contains(QLatin1String(key))) << key;
    EXPECT_TRUE(Form->HistoMenu->actions().contains(M().ActPeak));

    Form->FreqOffset = -12345.678f;
    Form->LevelOffset = -120.0f;
    Form->ReselectBandwidth();
    M().ActPeak->trigger();
    M().ActPeak2->trigger();
    M().ActNextPeakLeft2->trigger();
    ASSERT_EQ(Readout().size(), 4);
    EXPECT_TRUE(Readout().value(0).startsWith("M1 -12331.4"));
    // The new room reaches the window through posted layout requests.
    Form->resize(Form->minimumSizeHint());
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->minimumSizeHint().width(), leastBefore);
    EXPECT_LE(Form->minimumSizeHint().width(), 960);
    const QFontMetrics fm(M().Readout->font());
    EXPECT_GE(M().Readout->width(), fm.horizontalAdvance(M().Readout->Text()));
    EXPECT_LE(M().GBTraces->minimumSizeHint().width(), TForm1::SettingsPanelWidth - 4);
}

// The hold traces are the per-bin maximum, minimum and mean of the last K frames' magnitudes,
// shown over the span (mirrored when inverted). A change of span keeps them; one of FFT size,
// window, averaging, offsets or mirroring clears them, as do "Clear" and switching them off.
TEST_F(MarkerTest, HoldTraces)
{
    StartDebug4096();
    std::mt19937 rng(7);
    std::vector<std::vector<int16_t>> blocks;
    for (int f = 0; f < 9; ++f)
        blocks.push_back(ToneBlock(
            {{14.2 + 0.01 * f, 500.0 + 300 * (f % 4)}, {16.0, 900.0 * (f == 3)}}, 40.0, &rng));
    const size_t depth = 4;
    for (QCheckBox* box : {M().CBMaxHold, M().CBMinHold, M().CBAverage})
        box->setChecked(true);
    // Maximum yellow, minimum cyan, average orange (colours as 0xBBGGRR).
    const TColor colours[] = {0x00FFFF, 0xFFFF00, 0x0080FF};
    for (int series = 2; series <= 4; ++series)
        EXPECT_EQ(Form->Histo->SeriesRecord(series).LineColor, colours[series - 2]) << series;
    M().SEAverageFrames->setValue(int(depth));
    std::vector<std::vector<float>> frames;
    // The last frames come while the plot shows a part of the span (zoomed): they still reach
    // the whole span, which shows once the zoom is undone.
    const auto view = [&](float HalfKHz) {
        const float centre = float(Form->SBFrq->value());
        Form->Histo->setViewXCurrentMin(centre - HalfKHz);
        Form->Histo->setViewXCurrentMax(centre + HalfKHz);
    };
    const auto watch = [&] {
        frames.emplace_back(Form->Recipe.Averages(), Form->Recipe.Averages() + N);
        if (frames.size() == 5)
            view(400);
    };
    for (bool inverted : {false, true}) {
        SCOPED_TRACE(inverted);
        const THeader h{0.0, 0.0, inverted};
        WriteRecording(Path("holds.spk"), blocks, h);
        frames.clear();
        Play(Path("holds.spk"), inverted ? 25000 : 15000, watch); // a new mirroring clears them
        ASSERT_EQ(Form->Recipe.Holds().Frames(), int64_t(frames.size()));
        view(2500);
        const auto check = [&] {
            for (int series = 2; series <= 4; ++series) {
                const auto& s = Form->Histo->SeriesRecord(series);
                ASSERT_EQ(s.Count, N);
                for (int d = Form->ViewStartBin;
                     d < Form->ViewStartBin + int(Form->WaterfallLine.size()); ++d) {
                    const size_t k = size_t(inverted ? N - 1 - d : d);
                    double max = 0, min = 1e30, sum = 0;
                    for (size_t f = 0; f < frames.size(); ++f) {
                        max = std::max(max, double(frames[f][k]));
                        min = std::min(min, double(frames[f][k]));
                        sum += f + depth >= frames.size() ? frames[f][k] : 0.0;
                    }
                    const double value[] = {max, min, sum / depth};
                    ASSERT_NEAR(s.Data[d], 20 * std::log10(value[series - 2] / 16384 + 1e-9), 0.002)
                        << "series " << series << " bin " << d;
                }
            }
        };
        check();
        Form->SBFrq->setValue(inverted ? 24000 : 16000);
        check();
        Form->RGBW->setItemIndex(2);
        check();
        // The hair cross snaps to them: high over the burst at 16 MHz the maximum is nearest.
        const auto near = Form->Histo->FindNearestPoint(
            Form->Histo->XToPixel(float(ShownMHz(16.0, h) * 1000)), Form->Histo->YToPixel(-10));
        EXPECT_EQ(near.Serie, TMeasureTools::MaxSeries);
    }

    Form->BtnPlayback->click(); // live: each tick a synthetic frame
    const std::vector<std::pair<const char*, std::function<void()>>> clears = {
        {"FFT size", [&] { Form->SEFft->setValue(11); }},
        {"window", [&] { Form->RGFenster->setItemIndex(3); }},
        {"averaging", [&] { Form->SEAvg->setValue(4); }},
        {"offsets",
         [&] {
             Form->EdtLevelOffset->setText("-7");
             Form->ApplyOffsetFields();
         }},
        {"inversion", [&] { Form->CBInverted->setChecked(false); }},
        {"Clear", [&] { M().BtnClearTraces->click(); }},
        {"all off", [&] {
             for (QCheckBox* box : {M().CBMaxHold, M().CBMinHold, M().CBAverage})
                 box->setChecked(!box->isChecked());
             M().CBMaxHold->setChecked(true);
         }}};
    for (const auto& [what, clear] : clears) {
        SCOPED_TRACE(what);
        Form->Timer1Timer();
        Form->Timer1Timer();
        ASSERT_GE(Form->Recipe.Holds().Frames(), 2);
        clear();
        EXPECT_EQ(Form->Recipe.Holds().Frames(), 0);
        EXPECT_EQ(Form->Histo->SeriesRecord(TMeasureTools::MaxSeries).Count, 0);
        Form->Timer1Timer();
        EXPECT_EQ(Form->Histo->SeriesRecord(TMeasureTools::MaxSeries).Count, Form->Recipe.N());
    }
    M().SEAverageFrames->setValue(3); // a new depth keeps them
    EXPECT_EQ(Form->Recipe.Holds().Frames(), 1);
}

// The markers can sit on a hold trace: the maximum holds a burst the live trace has lost, the
// minimum lacks the tones one frame lacked. Choosing a trace switches it on; switching it off
// puts the markers back on the live trace.
TEST_F(MarkerTest, MarkersSitOnTheChosenTrace)
{
    StartDebug4096();
    const TTone burst{15.6021, 5000};
    WriteRecording(Path("burst.spk"),
                   {ToneBlock(Tones), ToneBlock({Left, Strongest, burst}), ToneBlock(Tones)});
    M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trMax);
    EXPECT_TRUE(M().CBMaxHold->isChecked());
    M().CBMinHold->setChecked(true);
    Play(Path("burst.spk"));
    M().ActPeak->trigger();
    EXPECT_EQ(Readout().value(0), MarkerText(1, burst, {}).replace("M1 ", "M1 [max] "));
    M().CBMaxHold->setChecked(false);
    EXPECT_EQ(M().MarkerTrace(), TMeasureTools::trLive);
    M().ActPeak->trigger();
    EXPECT_EQ(Readout().value(0), MarkerText(1, Strongest, {}));
    M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trMin);
    M().ActNextPeakRight->trigger();
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Strongest.MHz, 0.01 * BinMHz);
    M().CBMarkerTrace->setCurrentIndex(TMeasureTools::trLive);
    M().ActNextPeakRight->trigger();
    EXPECT_NEAR(M().MarkerBin(1) * BinMHz, Right.MHz, 0.01 * BinMHz);
}

// Garbage in the traces' section reads as the defaults, a depth beyond the range as its end; a
// change of one setting asks, and the others are written as they stand.
TEST_F(MarkerTest, TraceSettingsReadSafelyAndWrittenAsTheyStand)
{
    StartDebug4096("[Traces]\nMaxHold=x\nAverageFrames=100000\nMarkerTrace=7\n");
    EXPECT_FALSE(M().CBMaxHold->isChecked());
    EXPECT_EQ(M().SEAverageFrames->value(), 1000);
    EXPECT_EQ(M().CBMarkerTrace->currentText(), "live");
    M().SEAverageFrames->setValue(37);
    Prompts.Answers = {TPrompts::TAnswer::Yes};
    ASSERT_TRUE(CloseWindow());
    EXPECT_EQ(Prompts.Questions.size(), 1);
    const TIniFile ini(IniPath().toStdString());
    for (const auto& [key, value] :
         {std::pair{"MaxHold", 0}, std::pair{"MinHold", 0}, std::pair{"Average", 0},
          std::pair{"AverageFrames", 37}, std::pair{"MarkerTrace", 0}})
        EXPECT_EQ(ini.ReadInteger("Traces", key, -1), value) << key;
}

// The read-out draws its texts side by side, 4 pixels in from its edges and four spaces apart,
// in a line one text's height plus 2. It widens for longer texts but not back (no jitter with
// the digits), and a new font sizes it afresh.
TEST(MarkerReadout, TextsSideBySideAndTheWidthTheyNeed)
{
    TMarkerReadout readout;
    QFont font = readout.font();
    font.setPixelSize(13);
    readout.setFont(font);
    const QStringList texts{"M1", "M2-M1", "RBW"};
    readout.SetTexts(texts);
    EXPECT_EQ(readout.Text(), "M1    M2-M1    RBW");
    const QFontMetrics fm(font);
    std::vector<int> lefts{4}; // where each text starts, the last where a further one would
    for (const QString& t : texts)
        lefts.push_back(lefts.back() + fm.horizontalAdvance(t) +
                        4 * fm.horizontalAdvance(QLatin1Char(' ')));
    const int width = lefts[2] + fm.horizontalAdvance(texts[2]) + 4;
    EXPECT_EQ(readout.sizeHint(), QSize(width, fm.height() + 2));

    // Ink starts where each text does: after a run of blank columns wider than a space.
    readout.resize(readout.sizeHint());
    QImage image(readout.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    readout.render(&image);
    std::vector<int> starts;
    int blank = width;
    for (int x = 0; x < image.width(); ++x) {
        bool ink = false;
        for (int y = 0; y < image.height(); ++y)
            ink = ink || qGray(image.pixel(x, y)) < 128;
        if (ink && blank > 2 * fm.horizontalAdvance(QLatin1Char(' ')))
            starts.push_back(x);
        blank = ink ? 0 : blank + 1;
    }
    ASSERT_EQ(starts.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(starts[size_t(i)], lefts[size_t(i)] + 1, 1) << texts[i];

    readout.SetTexts({"M1"});
    EXPECT_EQ(readout.sizeHint().width(), width);
    font.setPixelSize(20);
    readout.setFont(font);
    const QFontMetrics larger(font);
    EXPECT_EQ(readout.sizeHint(),
              QSize(4 + larger.horizontalAdvance("M1") + 4, larger.height() + 2));
}
