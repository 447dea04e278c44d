#include "test_window_support.h"

#include "IniFileU.h"

// Each setting the user changes through a control is written under its own key as the control
// shows it, and comes back into the same control; a failed write keeps the window open.
TEST_F(WindowTest, SettingsRoundTripThroughTheFile)
{
    WriteIni("[Offsets]\nEnabled=1\n");
    Start();
    TMeasureTools& m = *Form->Measure;
    const std::tuple<const char*, const char*, std::function<void()>, QString> keys[] = {
        {"Settings", "FFTWindow", [&] { Form->RGFenster->setItemIndex(2); }, "2"},
        {"Settings", "BandWidth", [&] { Form->ShowSpan(12340.5, 10000); }, "1"},
        {"Settings", "Freq", [] {}, "12340"},
        {"Settings", "Speed", [&] { Form->SESpeed->setValue(25); }, "25"},
        {"Settings", "Att", [&] { Form->RGAtt->setItemIndex(3); }, "3"},
        {"Settings", "MinLevel", [&] { Form->SBMin->setValue(100); }, "100"},
        {"Settings", "Range", [&] { Form->SBRange->setValue(-30); }, "-30"},
        {"Settings", "Avg", [&] { Form->SEAvg->setValue(8); }, "8"},
        {"Settings", "FFT", [&] { Form->SEFft->setValue(9); }, "9"},
        {"Settings", "Dither", [&] { Form->CBDither->setChecked(true); }, "1"},
        {"Settings", "Preamp", [&] { Form->CBPreamp->setChecked(false); }, "0"}, // not Dither's
        {"Form", "Width", [&] { Form->resize(900, 700); }, "900"},
        {"Form", "Height", [] {}, "700"},
        {"Form", "Left", [&] { Form->move(150, 90); }, "150"},
        {"Form", "Top", [] {}, "90"},
        {"Offsets", "FreqMHz", [&] { Form->EdtFrqOffset->setText("-1.2346"); }, "-1.235"},
        {"Offsets", "LeveldB", [&] { Form->EdtLevelOffset->setText("2.5"); }, "2.5"},
        {"Offsets", "Inverted", [&] { Form->CBInverted->setChecked(true); }, "1"},
        {"Traces", "MaxHold", [&] { m.CBMaxHold->setChecked(true); }, "1"},
        {"Traces", "MinHold", [&] { m.CBMinHold->setChecked(true); }, "1"},
        {"Traces", "Average", [&] { m.CBAverage->setChecked(true); }, "1"},
        {"Traces", "AverageFrames", [&] { m.SEAverageFrames->setValue(37); }, "37"},
        {"Traces", "MarkerTrace", [&] { m.CBMarkerTrace->setCurrentIndex(3); }, "3"},
        {"Panel", "Ref", [&] { Form->Panel->SERef->setValue(-33); }, "-33"},
        {"Panel", "DbPerDiv", [&] { Form->Panel->CBDbPerDiv->setCurrentText("5"); }, "5"},
        {"Panel", "InputLevels", [&] { Form->Panel->CBInputLevels->setChecked(true); }, "1"},
        {"Panel", "CenterKHz", [] {}, "12340.500"},
        {"Panel", "SpanKHz", [] {}, "10000.000"},
        {"Panel", "ChannelKHz", [&] { Form->Channel->SEChannel->setValue(25); }, "25.0"}};
    for (const auto& [section, key, set, written] : keys)
        set();
    Form->ApplyOffsetFields();
    const auto saved = Form->CurrentSettings();
    const auto traces = [this] {
        const TMeasureTools& t = *Form->Measure;
        return std::vector<int>{t.CBMaxHold->isChecked(), t.CBMinHold->isChecked(),
                                t.CBAverage->isChecked(), t.SEAverageFrames->value(),
                                t.MarkerTrace()};
    };
    const std::vector<int> held = traces();
    const auto panel = [this] {
        return std::tuple{Form->Panel->Scale().RefDbm,
                          Form->Panel->Scale().DbPerDiv,
                          Form->Channel->SEChannel->value(),
                          Form->CentreKHz,
                          Form->SpanKHz,
                          Form->LevelOffset}; // the attenuator's 30 dB at the input added
    };
    EXPECT_EQ(panel(), std::tuple(-33, 5, 25.0, 12340.5, 10000.0, 32.5f));
    const QString startDir = Form->StartDir;
    Form->StartDir = Dir.filePath("missing/folder/");
    Prompts.Answers = {TPrompts::TAnswer::Yes, TPrompts::TAnswer::Yes};
    EXPECT_FALSE(CloseWindow());
    EXPECT_EQ(Prompts.Errors,
              QStringList{"In " + Form->SettingsPath() + " kann nicht geschrieben werden"});
    EXPECT_FALSE(Trace().contains("Close"));
    Form->StartDir = startDir;
    ASSERT_TRUE(CloseWindow());
    EXPECT_EQ(Prompts.Questions, QStringList(2, "Some Settings changed, save?"));
    const TIniFile ini(IniPath().toStdString());
    for (const auto& [section, key, set, written] : keys)
        EXPECT_EQ(QString::fromStdString(ini.ReadString(section, key, "none")), written) << key;

    Start();
    EXPECT_EQ(Form->CurrentSettings(), saved);
    EXPECT_TRUE(Trace().contains("SetAttenuator 3"));
    EXPECT_EQ(traces(), held);
    EXPECT_EQ(panel(), std::tuple(-33, 5, 25.0, 12340.5, 10000.0, 32.5f));
    ASSERT_TRUE(CloseWindow());
    EXPECT_EQ(Prompts.Questions.size(), 2); // unchanged: no further question
}

// Without a settings file and with one that holds none of the keys, the controls start alike;
// the window takes its designed size without a file and the saved size's default with one.
// Garbage and missing keys fall back to their defaults.
// Start/Stop, Record, Playback and Load File stay in full view under the settings that scroll,
// at the height a settings file without [Form] opens with and however short the window.
TEST_F(WindowTest, RunControlsStayInSight)
{
    WriteIni("[Settings]\nAvg=3\n");
    StartShown();
    for (const int height : {Form->height(), Form->minimumSizeHint().height()}) {
        Form->resize(Form->width(), height);
        RunEvents(20); // the scroll bar's room widens the panel after the resize
        for (QToolButton* b :
             {Form->BtnStartStop, Form->BtnRecord, Form->BtnPlayback, Form->BtnLoadFile})
            EXPECT_EQ(b->visibleRegion().boundingRect(), b->rect()) << b->objectName() << height;
    }
}

TEST_F(WindowTest, NoFileAndAnEmptyFileStartWithTheSameControls)
{
    // Window, bandwidth, speed, attenuator, least level, range (its bar ends at 0), average,
    // FFT exponent, centre (the only one at full bandwidth), then dither, preamp, offsets.
    const std::vector<int32_t> controls{1, 3, 40, 0, 120, 0, 1, 11, 20000};
    const std::vector<int32_t> switches{0, 0, 0, 0, 0};
    const auto expectDefaults = [&](QSize Size, QPoint At) {
        const auto s = Form->CurrentSettings();
        EXPECT_EQ(std::vector<int32_t>(s.begin(), s.begin() + 9), controls);
        EXPECT_EQ(std::vector<int32_t>(s.begin() + 13, s.end()), switches);
        EXPECT_EQ(Form->pos(), At);
        EXPECT_EQ(Form->height(), Size.height());
        // Without the panel's section the levels of old: -140..0 dBm.
        EXPECT_TRUE(Form->Panel->Scale() == quillex::TLevelScale{} &&
                    Form->Histo->ViewYMin() == -140.0f && Form->Histo->ViewYMax() == 0.0f);
        return Form->width() - Size.width(); // the legend's room
    };
    Start();
    const int legend = expectDefaults({845, 790}, {284, 135});
    EXPECT_GT(legend, 0);

    // A bandwidth beyond the table reads as the whole spectrum too.
    for (const char* ini :
         {"[Settings]\nUnknown=1\n", "[Settings]\nBandWidth=-1\n", "[Settings]\nBandWidth=4\n"}) {
        WriteIni(ini);
        Start();
        EXPECT_EQ(expectDefaults({880, 790}, {200, 100}), legend) << ini;
    }

    // Garbage reads as the defaults, silently. "Range" 120 is limited by the bar; a missing
    // "Freq" is half the largest centre.
    WriteIni(("[Settings]\nFFTWindow=abc\nBandWidth=0\nSpeed=\nAtt=0x2\n"
              "MinLevel=1e3\nRange=120\nFFT=zz\nDither=1\n"
              "[Form]\nWidth=wide\n[Offsets]\nFreqMHz=foo\nLeveldB=2,5\n"
              "Enabled=1\nInverted=x\n"));
    Start();
    EXPECT_TRUE(Prompts.Errors.isEmpty());
    EXPECT_EQ(Form->RGFenster->ItemIndex(), 1);
    EXPECT_EQ(Form->SESpeed->value(), 40);
    EXPECT_EQ(Form->RGAtt->ItemIndex(), 2);
    EXPECT_EQ(Form->SBMin->value(), 120);
    EXPECT_EQ(Form->SBRange->value(), 0);
    EXPECT_EQ(Form->SEFft->value(), 11);
    EXPECT_EQ(Form->SBFrq->value(), 18750);
    EXPECT_FALSE(Form->CBInverted->isChecked());
    EXPECT_EQ(Form->FreqOffset, 0.0f);
    EXPECT_EQ(Form->LevelOffset, 2.5f);
    EXPECT_TRUE(Form->GBOffsets->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->EdtLevelOffset->text(), "2.5");
    EXPECT_EQ(Form->Receiver.ControlWord(), 3u); // dither and acquisition
}

// Offsets count at their stored precision (1.2341 and 1.2344 are both 1.234, 1.2346 is
// not), and only while enabled; written with the machine's comma, read back elsewhere.
// "Inverted" is in force with them (without "Enabled" start-up clears it).
TEST_F(WindowTest, OffsetsCountAtStoredPrecisionOnlyWhileEnabled)
{
    WriteIni("[Offsets]\nFreqMHz=1,2341\nLeveldB=0.0\nEnabled=1\nInverted=1\n");
    Start();
    ASSERT_EQ(Form->FreqOffset, 1.2341f);
    EXPECT_TRUE(!Form->GBOffsets->isHidden() && Form->CBInverted->isChecked());
    Form->FreqOffset = 1.2344f;
    EXPECT_TRUE(CloseWindow());
    Start();
    Form->FreqOffset = 1.2346f;
    Form->OffsetsEnabled = false;
    Form->CBInverted->setChecked(false);
    EXPECT_TRUE(CloseWindow());
    EXPECT_TRUE(Prompts.Questions.isEmpty());

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Start();
    EXPECT_EQ(Form->StatusText(1), "Center: 20,00 MHz"); // the machine's separator on show
    Form->EdtFrqOffset->setText("1.2346");
    Form->EdtLevelOffset->setText("-12,5");
    Form->ApplyOffsetFields();
    Prompts.Answers = {TPrompts::TAnswer::Yes};
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(Prompts.Questions.size(), 1);
    EXPECT_TRUE(ReadIni().contains("FreqMHz=1,235")) << ReadIni();
    QLocale::setDefault(QLocale::c());
    Start();
    EXPECT_TRUE(Form->FreqOffset == 1.235f && Form->LevelOffset == -12.5f);
    EXPECT_EQ(Form->EdtFrqOffset->text(), "1.235");
}

// Before the settings are loaded there is nothing to save: a close then (before the
// start-up tick, or from a termination request while a start-up failure is shown)
// neither asks nor writes.
TEST_F(WindowTest, CloseBeforeTheSettingsAreLoadedNeitherAsksNorWrites)
{
    const char* const user = "[Settings]\nFFTWindow=3\nBandWidth=1\nAtt=2\n";
    WriteIni(user);
    Prompts.Answers = {TPrompts::TAnswer::Yes, TPrompts::TAnswer::Yes};
    Form = std::make_unique<TForm1>(Prompts, Clock, QStringList{});
    Form->OnTerminate = [this](int Code) { TerminatedWith = Code; };
    EXPECT_TRUE(CloseWindow());
    EXPECT_FALSE(Form->InitTimer->isActive()); // start-up does not run after the close
    RunEvents(150);
    EXPECT_TRUE(Trace().isEmpty());

    bool closed = false;
    Prompts.OnMessage = [&] { closed = Form->close(); };
    setenv("QUILLEX_SIM_OPEN_FAIL", "1", 1);
    Start();
    unsetenv("QUILLEX_SIM_OPEN_FAIL");
    EXPECT_TRUE(closed);
    EXPECT_EQ(TerminatedWith, 1);
    EXPECT_TRUE(Prompts.Questions.isEmpty());
    EXPECT_EQ(ReadIni(), user);
}

// Values start-up has to correct (an unusable bandwidth, a centre outside its range or
// moved by the re-selection of the bandwidth, a window position off every screen, a frequency
// panel too narrow for the pointer's read-out with the offset, offsets and "Inverted" stored
// without "Enabled", so no mirrored spectrum shows without the box that undoes it) are settled
// before the snapshot, so a close without the user's changes asks nothing. An unusable bandwidth
// reads as the whole spectrum.
TEST_F(WindowTest, StartupCorrectionsDoNotCountAsChanges)
{
    const char* const off = "[Form]\nLeft=-5000\nTop=-5000\n";
    for (const std::string& text :
         {std::string("[Settings]\nBandWidth=-1\nFreq=1000\n") + off,
          std::string("[Settings]\nBandWidth=7\nFreq=1000\n") + off,
          std::string("[Settings]\nBandWidth=2\nFreq=10000\n") + off,
          std::string("[Form]\nWidth=300\n[Offsets]\nFreqMHz=9980.000\nLeveldB=0.0\nEnabled=1\n"),
          std::string("[Offsets]\nFreqMHz=1.5\nInverted=1\n")}) {
        SCOPED_TRACE(text);
        WriteIni(text.c_str());
        Form = std::make_unique<TForm1>(Prompts, Clock, QStringList{});
        Form->show(); // as the program does: the window is up before the start-up tick
        Form->InitTimerTimer();
        RunEvents(20);
        EXPECT_EQ(Form->RGBW->ItemIndex(), text.find("=2") != std::string::npos ? 2 : 3);
        EXPECT_EQ(Form->SBFrq->value(), 20000);
        EXPECT_EQ(Form->Histo->ViewXCurrentMin() + Form->Histo->ViewXCurrentMax(), 40000.0f);
        const bool enabled = text.find("Enabled=1") != std::string::npos;
        EXPECT_TRUE(Form->GBOffsets->isHidden() != enabled && !Form->CBInverted->isChecked());
        EXPECT_EQ(Form->FreqOffset, enabled ? 9980.0f : 0.0f);
        const QRect frame = Form->frameGeometry();
        EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().intersects(frame))
            << frame.x() << "," << frame.y();
        Form->HistoCrossMove(nullptr, 39999.0f, 0, 0, 0);
        RunEvents(20);
        EXPECT_TRUE(CloseWindow());
        EXPECT_TRUE(Prompts.Questions.isEmpty());
        EXPECT_EQ(ReadIni().toStdString(), text);
    }
}
