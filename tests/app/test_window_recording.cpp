#include "test_window_support.h"

#include "test_file_support.h"

namespace {

constexpr int RecordSize = 16392;

// Data records come from the file unit's golden-tested encoder.
std::string DataRecord(double Stamp, int Seed)
{
    std::vector<int16_t> block(TForm1::BlockSamples);
    for (int i = 0; i < TForm1::BlockSamples; ++i)
        block[i] = static_cast<int16_t>(i * 31 + Seed * 977);
    std::string record(RecordSize, '\0');
    quillex::EncodeDataRecord(Stamp, block.data(), reinterpret_cast<uint8_t*>(record.data()));
    return record;
}

// Records (or a header's text) at the given record positions of a file of the given size, zeros
// elsewhere.
void WriteFile(const QString& File, const std::vector<std::pair<int64_t, std::string>>& Records,
               int64_t Size)
{
    std::ofstream(File.toStdString());
    std::filesystem::resize_file(File.toStdString(), Size);
    std::fstream out(File.toStdString(), std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [k, r] : Records)
        out.seekp(k * RecordSize) << r;
}

// Windows in debug mode (synthetic frames) that keep every processed frame's stamp and levels.
class RecordingTest : public WindowTest
{
protected:
    void StartWindow(const QStringList& Args = {"DEBUG"})
    {
        Start(Args);
        Form->OnFrameProcessed = [this] {
            PlaybackSwitchable = PlaybackSwitchable || (Form->BtnStartStop->isChecked() &&
                                                        Form->BtnPlayback->isEnabled());
            Stamps.push_back(Form->FrameStamp);
            Levels.emplace_back(Form->Recipe.Levels(), Form->Recipe.Levels() + Form->Recipe.N());
        };
    }

    std::vector<double> Stamps;
    std::vector<std::vector<float>> Levels;
    // Playback could be switched while a run went on.
    bool PlaybackSwitchable = false;
};

} // namespace

// The dialog pauses the timer; cancelled it leaves no file; a file that cannot be
// created gives one message and leaves Record up.
TEST_F(RecordingTest, CancelledRecordDialogLeavesNoFileAndTheTimerAsBefore)
{
    StartWindow();
    Form->BtnStartStop->click(); // fast scan: Timer1 runs
    bool timerDuringDialog = true;
    Prompts.OnDialog = [&] { timerDuringDialog = Form->Timer1->isActive(); };
    Form->BtnRecord->click();
    EXPECT_FALSE(timerDuringDialog);
    EXPECT_EQ(Flags(), "run timer - - -");
    EXPECT_EQ(Form->StatusText(3), QString());
    EXPECT_TRUE(QDir(Dir.path()).entryList({"*.spk"}).isEmpty());
    Form->BtnStartStop->click();
    Record(Path("no/such/folder.spk"));
    EXPECT_EQ(Prompts.Errors.size(), 1);
    EXPECT_EQ(Flags(), "- - - sync playback");

    // A cancelled open dialog clears the file panel.
    WriteFile(Path("a.spk"), {{0, DataRecord(1.0, 1)}}, RecordSize);
    Load(Path("a.spk"));
    EXPECT_EQ(Form->StatusText(3), "File: a.spk");
    Form->RBSync->setChecked(true);
    Form->RBFast->setChecked(true); // the pacing leaves the file's name alone
    EXPECT_EQ(Form->StatusText(3), "File: a.spk");
    Form->BtnLoadFile->click();
    EXPECT_EQ(Form->StatusText(3), QString());
}

// Recorded with the machine's comma: the header and a data record byte for byte. Played
// back on a machine with the point, the header restores the offsets (-0.500: inverted)
// and the same frames give the same levels.
TEST_F(RecordingTest, RecordThenPlayBackGoldenBytesAndSameLevelsInAnyLocale)
{
    StartWindow({}); // the simulated receiver's full blocks
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Form->FreqOffset = 0.5f;
    Form->LevelOffset = -3.5f;
    Form->CBInverted->setChecked(true);
    Record(Path("golden.spk"));
    EXPECT_EQ(Form->StatusText(3), "Record to golden.spk");
    Form->BtnStartStop->click();
    std::string expected = "Offsets:      -0,500    -3,5"; // the header's text, then zeros
    expected.resize(2 * RecordSize);
    for (int i = 0; i < 6; ++i, Clock.Advance(2.0)) {
        Form->Timer1Timer();
        if (i == 0)
            quillex::EncodeDataRecord(Form->FrameStamp, Form->SampleBlock.data(),
                                      reinterpret_cast<uint8_t*>(expected.data()) + RecordSize);
    }
    EXPECT_EQ(Flags(), "run timer record - -");
    Form->BtnStartStop->click(); // stopping releases Record and closes the file
    EXPECT_EQ(Flags(), "- - - sync playback");
    EXPECT_TRUE(ReadAll(Path("golden.spk")).left(2 * RecordSize).toStdString() == expected);
    const auto recordedLevels = std::exchange(Levels, {});
    const auto recordedStamps = std::exchange(Stamps, {});
    ASSERT_TRUE(recordedStamps.size() == 6 && recordedStamps[0] > 0);

    QLocale::setDefault(QLocale::c());
    Form->CBInverted->setChecked(false);
    Load(Path("golden.spk"));
    EXPECT_TRUE(Form->FreqOffset == 0.5f && Form->LevelOffset == -3.5f);
    EXPECT_TRUE(Form->CBInverted->isChecked() && Form->OffsetsEnabled);
    EXPECT_TRUE(!Form->GBOffsets->isHidden() && Form->GBOffsets->height() == 91);
    EXPECT_EQ(Form->EdtFrqOffset->text(), "0.500");
    PlaySync();
    EXPECT_EQ(Stamps, recordedStamps);
    EXPECT_TRUE(Levels == recordedLevels);
}

// "Max: 3" counts the header; fast scan and Harddisk sync both play records 1 and 2,
// then stop and rewind. The load dialog pauses a running playback, a chosen file stops
// it as Stop would, and leaving playback closes the file.
TEST_F(RecordingTest, ThreeRecordFilePlaysRecordsOneAndTwoThenRewinds)
{
    StartWindow();
    WriteFile(Path("three.spk"),
              {{0, "Offsets:       0.000     0.0"}, {1, DataRecord(46000.25, 1)}}, 3 * RecordSize);
    Load(Path("three.spk"));
    EXPECT_EQ(Form->LblMax->text(), "Max: 3");
    Form->BtnStartStop->click();
    Form->Timer1Timer();
    EXPECT_EQ(Form->LblAkt->text(), "Pos: 2");
    Form->Timer1Timer();
    EXPECT_EQ(Stamps, (std::vector<double>{46000.25, 0.0}));
    EXPECT_EQ(Flags(), "- - - sync playback");
    EXPECT_EQ(Form->PB->value(), 1);

    PlaySync(); // the loop ends at the end of the file
    EXPECT_EQ(Stamps, (std::vector<double>{46000.25, 0.0, 46000.25, 0.0}));
    EXPECT_EQ(Flags(), "- - - sync playback");
    EXPECT_EQ(Form->LblAkt->text(), "Pos: 1");
    EXPECT_TRUE(Form->StatusText(2).endsWith(" FramesPerSec"));
    EXPECT_FALSE(PlaybackSwitchable); // in either pacing

    Form->RBFast->setChecked(true);
    Form->BtnStartStop->click();
    EXPECT_EQ(Form->StatusText(2), QString()); // not the rate of the sync run
    bool timerDuringDialog = true;
    Prompts.OnDialog = [&] { timerDuringDialog = Form->Timer1->isActive(); };
    Form->BtnLoadFile->click(); // cancelled: playing on
    EXPECT_FALSE(timerDuringDialog);
    EXPECT_EQ(Flags(), "run timer - - -");
    Load(Path("three.spk"));
    EXPECT_EQ(Flags(), "- - - sync playback");
    EXPECT_EQ(Form->StatusText(3), "File: three.spk");
    Form->BtnPlayback->click();
    EXPECT_FALSE(Form->SpkFile.Reader.IsOpen());
    EXPECT_TRUE(Form->PB->isHidden());
}

// A release in the middle of the bar jumps to record 500 of 1000; outside the bar it
// stays on the bar and never reaches the header. (Positions past 4 GiB are the file
// reader's, tested with it.)
TEST_F(RecordingTest, PositionBarJumpsProportionallyAndStaysOnTheBar)
{
    StartWindow();
    Form->BtnPlayback->click();
    const QString position = Form->LblAkt->text();
    Form->PBMouseUp(200); // no file: nothing to jump in
    EXPECT_TRUE(Form->PB->value() == 1 && Form->LblAkt->text() == position);
    WriteFile(Path("1000.spk"), {{500, DataRecord(46001.5, 5)}}, 1000L * RecordSize);
    Load(Path("1000.spk"));
    Form->PB->setFixedWidth(400);
    const QPointF at(200, 5);
    QMouseEvent release(QEvent::MouseButtonRelease, at, Form->PB->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Form->PB, &release);
    EXPECT_EQ(Form->PB->value(), 500);
    Form->BtnStartStop->click();
    Form->Timer1Timer();
    EXPECT_EQ(Stamps, std::vector<double>{46001.5});
    EXPECT_EQ(Form->LblAkt->text(), "Pos: 501");
    Form->PBMouseUp(-30);
    EXPECT_TRUE(Form->PB->value() == 1 && Form->SpkFile.Reader.Position() == 1);
    Form->PBMouseUp(399);
    EXPECT_EQ(Form->PB->value(), 998); // 997.5 rounded
    Form->PBMouseUp(900);
    EXPECT_EQ(Form->PB->value(), 1000);

    // A corrupt header loads nothing and changes nothing; a file without header clears and
    // hides the offsets, and of its 2.6 records (counted as 3) the short third is no frame.
    WriteFile(Path("good.spk"), {{0, "Offsets:      -2.000     1.0"}}, 2 * RecordSize);
    Load(Path("good.spk"));
    ASSERT_TRUE(Form->CBInverted->isChecked());
    WriteFile(Path("bad.spk"), {{0, "Offsets:\x1b[2J\a2.0 \xe2\x82\xac\n    1.0"}}, 2 * RecordSize);
    Load(Path("bad.spk"));
    ASSERT_EQ(Prompts.Errors.size(), 1);
    EXPECT_TRUE(Prompts.Errors[0].contains("bad.spk"));
    // Only printable characters of the file reach the message.
    EXPECT_TRUE(Prompts.Errors[0].contains("\"?[2J?2.0 ???\"")) << Prompts.Errors[0];
    EXPECT_FALSE(Prompts.Errors[0].contains(QRegularExpression("[^\\x20-\\x7e]")));
    EXPECT_TRUE(Form->PlaybackMode && !Form->SpkFile.Reader.IsOpen());
    EXPECT_FALSE(Form->BtnStartStop->isEnabled());
    EXPECT_EQ(Form->LblMax->text(), QString());
    EXPECT_TRUE(Form->FreqOffset == 2.0f && Form->OffsetsEnabled);

    WriteFile(Path("foreign.dat"), {{0, DataRecord(1.0, 1)}, {1, DataRecord(2.0, 2)}},
              RecordSize * 26 / 10);
    Load(Path("foreign.dat"));
    EXPECT_EQ(Form->LblMax->text(), "Max: 3");
    EXPECT_FALSE(Form->OffsetsEnabled || Form->GBOffsets->isVisible());
    EXPECT_TRUE(Form->FreqOffset == 0.0f && Form->LevelOffset == 0.0f);
    EXPECT_FALSE(Form->CBInverted->isChecked());
    Stamps.clear();
    PlaySync();
    EXPECT_EQ(Stamps, std::vector<double>{2.0});
}

// A file system that fills up (a file size limit) ends the recording once; the
// acquisition goes on and every whole record stays in the file.
TEST_F(RecordingTest, WriteFailureStopsTheRecordingOnceAndKeepsWholeRecords)
{
    StartWindow();
    Record(Path("full.spk"));
    Form->BtnStartStop->click(); // header
    {
        const TFullDisk full(3 * RecordSize + RecordSize / 2);
        for (int i = 0; i < 5; ++i)
            Form->Timer1Timer();
    }
    EXPECT_EQ(Stamps.size(), 5u);
    EXPECT_EQ(Prompts.Errors.filter("Recording stopped").size(), 1);
    EXPECT_EQ(Flags(), "run timer - - -");
    EXPECT_EQ(Form->StatusText(3), QString());
    EXPECT_EQ(QFileInfo(Path("full.spk")).size(), 3 * RecordSize);
}

// A close compares the offsets with what the settings file holds, also when start-up hid
// them: a recording whose header holds the stored 1.5 MHz changes nothing, one of 0 MHz does.
TEST_F(RecordingTest, OffsetsFromARecordingCompareWithTheSettingsFile)
{
    for (const auto& [header, asks] : {std::pair{"Offsets:       1.500     0.0", false},
                                       std::pair{"Offsets:       0.000     0.0", true}}) {
        SCOPED_TRACE(header);
        WriteIni("[Offsets]\nFreqMHz=1.500\nLeveldB=0.0\nInverted=0\n");
        WriteFile(Path("r.spk"), {{0, header}, {1, DataRecord(0, 1)}}, 2 * RecordSize);
        StartWindow();
        Load(Path("r.spk"));
        Prompts.Questions.clear();
        Prompts.Answers.push_back(TPrompts::TAnswer::No);
        EXPECT_TRUE(CloseWindow());
        EXPECT_EQ(Prompts.Questions.size(), asks ? 1 : 0);
        Form.reset();
        Prompts.Answers.clear();
    }
}
