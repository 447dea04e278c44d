#include "test_window_support.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "FrameProcessor.h"
#include "SpkFile.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int RecordSize = quillex::FrameRecordSize;

// Scripted file dialogs on top of the window's prompts; an empty script cancels.
class TFilePrompts : public TScriptedPrompts
{
public:
    std::deque<QString> Names;
    std::function<void()> OnDialog;
    QString SaveFileName(const QString&, const QString&, const QString&) override { return Next(); }
    QString OpenFileName(const QString&, const QString&, const QString&) override { return Next(); }

private:
    QString Next()
    {
        if (OnDialog)
            OnDialog();
        if (Names.empty())
            return {};
        QString name = Names.front();
        Names.pop_front();
        return name;
    }
};

// A data record written byte by byte, independently of the file unit.
Bytes DataRecord(double Stamp, int Seed)
{
    Bytes record(RecordSize);
    std::memcpy(record.data(), &Stamp, 8);
    for (int i = 0; i < TForm1::BlockSamples; ++i) {
        const auto v = static_cast<uint16_t>(i * 31 + Seed * 977);
        record[8 + 2 * i] = static_cast<uint8_t>(v);
        record[9 + 2 * i] = static_cast<uint8_t>(v >> 8);
    }
    return record;
}

Bytes HeaderRecord(const char* Freq12, const char* Level8)
{
    Bytes record(RecordSize, 0);
    std::memcpy(record.data(), "Offsets:", 8);
    std::memcpy(record.data() + 8, Freq12, 12);
    std::memcpy(record.data() + 20, Level8, 8);
    return record;
}

class RecordingTest : public WindowTest
{
protected:
    void StartWindow(const QStringList& Args = {QStringLiteral("DEBUG")})
    {
        Form = std::make_unique<TForm1>(Files, Clock, Args);
        Form->OnTerminate = [this](int Code) { TerminatedWith = Code; };
        Form->InitTimerTimer();
        Form->OnFrameProcessed = [this] {
            Stamps.push_back(Form->FrameStamp);
            const int n = static_cast<int>(Form->FFT->Size());
            Levels.emplace_back(Form->LevelSpectrum.begin(), Form->LevelSpectrum.begin() + n);
        };
    }

    QString Path(const char* Name) const { return Dir.filePath(QString::fromLatin1(Name)); }

    static void WriteFile(const QString& File, const std::vector<Bytes>& Records, size_t Tail = 0)
    {
        std::ofstream out(File.toStdString(), std::ios::binary);
        for (const Bytes& r : Records)
            out.write(reinterpret_cast<const char*>(r.data()), static_cast<long>(r.size()));
        out.write(std::string(Tail, 'x').data(), static_cast<long>(Tail));
    }

    static Bytes ReadFile(const QString& File)
    {
        std::ifstream in(File.toStdString(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void EnterPlaybackAndLoad(const QString& File)
    {
        if (!Form->BtnPlayback->isChecked())
            Form->BtnPlayback->click();
        Files.Names.push_back(File);
        Form->BtnLoadFile->click();
    }

    void Record(const QString& File)
    {
        Files.Names.push_back(File);
        Form->BtnRecord->click();
    }

    void ReleaseOnPB(int X)
    {
        const QPointF at(X, 5);
        QMouseEvent release(QEvent::MouseButtonRelease, at, Form->PB->mapToGlobal(at),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Form->PB, &release);
    }

    TFilePrompts Files;
    std::vector<double> Stamps;
    std::vector<std::vector<float>> Levels;
    int Frames = 0;
};

} // namespace

TEST_F(RecordingTest, CancelledRecordDialogLeavesNoFileAndTheTimerAsBefore)
{
    StartWindow();
    Form->BtnStartStop->click(); // fast scan: Timer1 runs
    bool timerDuringDialog = true;
    Files.OnDialog = [&] { timerDuringDialog = Form->Timer1->isActive(); };
    Form->BtnRecord->click();
    EXPECT_FALSE(timerDuringDialog);
    EXPECT_FALSE(Form->BtnRecord->isChecked());
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_EQ(Form->StatusText(3), QString());
    EXPECT_TRUE(QDir(Dir.path()).entryList({QStringLiteral("*.spk")}).isEmpty());

    Form->BtnStartStop->click();
    Record(Path("no/such/folder.spk")); // cannot be created: one message, button up
    EXPECT_EQ(Files.Errors.size(), 1);
    EXPECT_FALSE(Form->BtnRecord->isChecked());
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_TRUE(Form->BtnPlayback->isEnabled());
}

// The header and a data record, byte for byte, with the machine's separator; and the
// same file read back on a machine with the other separator.
TEST_F(RecordingTest, RecordsGoldenBytesAndHeaderReadsBackInAnyLocale)
{
    StartWindow();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Form->FreqOffset = 0.5f;
    Form->LevelOffset = -3.5f;
    Form->CBInverted->setChecked(true);
    Record(Path("golden.spk"));
    EXPECT_EQ(Form->StatusText(3), QStringLiteral("Record to golden.spk"));
    EXPECT_FALSE(Form->BtnPlayback->isEnabled());
    Form->BtnStartStop->click();
    Form->Timer1Timer();
    const auto block = Form->SampleBlock;
    const double stamp = Form->FrameStamp;
    ASSERT_GT(stamp, 0.0);
    Form->BtnStartStop->click(); // stopping releases Record and closes the file
    EXPECT_FALSE(Form->BtnRecord->isChecked());
    EXPECT_TRUE(Form->BtnPlayback->isEnabled());

    const Bytes file = ReadFile(Path("golden.spk"));
    ASSERT_EQ(file.size(), 2u * RecordSize);
    const Bytes header = HeaderRecord("      -0,500", "    -3,5");
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    Bytes data(RecordSize);
    std::memcpy(data.data(), &stamp, 8);
    for (int i = 0; i < TForm1::BlockSamples; ++i) {
        data[8 + 2 * i] = static_cast<uint8_t>(block[i] & 0xFF);
        data[9 + 2 * i] = static_cast<uint8_t>((block[i] >> 8) & 0xFF);
    }
    EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + RecordSize));

    QLocale::setDefault(QLocale::c());
    Form->CBInverted->setChecked(false);
    EnterPlaybackAndLoad(Path("golden.spk"));
    EXPECT_FLOAT_EQ(Form->FreqOffset, 0.5f);
    EXPECT_FLOAT_EQ(Form->LevelOffset, -3.5f);
    EXPECT_TRUE(Form->CBInverted->isChecked());
    EXPECT_TRUE(Form->OffsetsEnabled);
    EXPECT_FALSE(Form->GBOffsets->isHidden());
    EXPECT_EQ(Form->EdtFrqOffset->text(), QStringLiteral("0.500"));
    EXPECT_EQ(Form->EdtLevelOffset->text(), QStringLiteral("-3.5"));
}

// The load dialog pauses a running playback; a chosen file stops it as Stop would, so
// that the pacing buttons and Playback are usable again.
TEST_F(RecordingTest, LoadingStopsPlaybackAndLeavingPlaybackClosesTheFile)
{
    StartWindow();
    WriteFile(Path("a.spk"), {HeaderRecord("       2.000", "     1.0"), DataRecord(0, 1),
                              DataRecord(0, 2), DataRecord(0, 3)});
    EnterPlaybackAndLoad(Path("a.spk"));
    EXPECT_EQ(Form->StatusText(3), QStringLiteral("File: a.spk"));
    EXPECT_EQ(Form->RBSync->text(), QStringLiteral("Harddisk sync"));
    Form->BtnStartStop->click();
    bool timerDuringDialog = true;
    Files.OnDialog = [&] { timerDuringDialog = Form->Timer1->isActive(); };
    Form->BtnLoadFile->click(); // cancelled: playing on
    EXPECT_FALSE(timerDuringDialog);
    EXPECT_TRUE(Form->Timer1->isActive() && Form->BtnStartStop->isChecked());
    Files.Names.push_back(Path("a.spk"));
    Form->BtnLoadFile->click();
    EXPECT_FALSE(Form->Timer1->isActive() || Form->BtnStartStop->isChecked());
    EXPECT_TRUE(Form->RBSync->isEnabled() && Form->BtnPlayback->isEnabled());
    EXPECT_TRUE(Form->BtnStartStop->isEnabled());

    Form->BtnPlayback->click();
    EXPECT_FALSE(Form->SpkFile.Reader.IsOpen());
    EXPECT_TRUE(Form->PlaybackFileName.isEmpty());
    EXPECT_EQ(Form->StatusText(3), QString());
    EXPECT_EQ(Form->RBSync->text(), QStringLiteral("Perseus sync"));
    EXPECT_TRUE(Form->PB->isHidden());
}

TEST_F(RecordingTest, ThreeRecordFilePlaysRecordsOneAndTwoThenRewinds)
{
    StartWindow();
    WriteFile(Path("three.spk"), {HeaderRecord("       0.000", "     0.0"), DataRecord(46000.25, 1),
                                  DataRecord(0, 2)});
    EnterPlaybackAndLoad(Path("three.spk"));
    EXPECT_EQ(Form->LblMax->text(), QStringLiteral("Max: 3"));
    EXPECT_EQ(Form->LblAkt->text(), QStringLiteral("Pos: 0"));
    EXPECT_EQ(Form->PB->value(), 1);

    Form->BtnStartStop->click(); // fast scan
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_FALSE(Form->RBSync->isEnabled());
    Form->Timer1Timer();
    EXPECT_EQ(Form->LblAkt->text(), QStringLiteral("Pos: 2"));
    Form->Timer1Timer();
    EXPECT_EQ(Stamps, (std::vector<double>{46000.25, 0.0}));
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_TRUE(Form->RBSync->isEnabled() && Form->BtnPlayback->isEnabled());
    EXPECT_EQ(Form->PB->value(), 1);

    Stamps.clear();
    Form->RBSync->setChecked(true);
    Form->BtnStartStop->click(); // Harddisk sync: the loop ends at the end of the file
    EXPECT_EQ(Stamps, (std::vector<double>{46000.25, 0.0}));
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    EXPECT_EQ(Form->LblAkt->text(), QStringLiteral("Pos: 1"));
    EXPECT_TRUE(Form->StatusText(2).endsWith(QStringLiteral(" FramesPerSec")));
}

TEST_F(RecordingTest, ForeignFileLoadsWithoutOffsetsAndItsShortTailIsNotShown)
{
    StartWindow();
    WriteFile(Path("header.spk"), {HeaderRecord("      -1.500", "    10.0"), DataRecord(0, 1)});
    EnterPlaybackAndLoad(Path("header.spk"));
    ASSERT_TRUE(Form->OffsetsEnabled);
    // 2.6 records: counted as 3, but the partial third is no frame.
    WriteFile(Path("foreign.dat"), {DataRecord(1.0, 1), DataRecord(2.0, 2)}, RecordSize * 6 / 10);
    EnterPlaybackAndLoad(Path("foreign.dat"));
    EXPECT_EQ(Form->LblMax->text(), QStringLiteral("Max: 3"));
    EXPECT_FALSE(Form->OffsetsEnabled);
    EXPECT_TRUE(Form->GBOffsets->isHidden());
    EXPECT_EQ(Form->FreqOffset, 0.0f);
    EXPECT_EQ(Form->LevelOffset, 0.0f);
    EXPECT_FALSE(Form->CBInverted->isChecked());
    Form->RBSync->setChecked(true);
    Form->BtnStartStop->click();
    EXPECT_EQ(Stamps, std::vector<double>{2.0});
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    EXPECT_EQ(Form->PB->value(), 1);
}

TEST_F(RecordingTest, CorruptHeaderLoadsNothingAndSetsNothing)
{
    StartWindow();
    WriteFile(Path("good.spk"), {HeaderRecord("       2.000", "     1.0"), DataRecord(0, 1)});
    EnterPlaybackAndLoad(Path("good.spk"));
    WriteFile(Path("bad.spk"), {HeaderRecord("    2.0 MHz ", "     1.0"), DataRecord(0, 1)});
    EnterPlaybackAndLoad(Path("bad.spk"));
    ASSERT_EQ(Files.Errors.size(), 1);
    EXPECT_TRUE(Files.Errors[0].contains(QStringLiteral("bad.spk")))
        << Files.Errors[0].toStdString();
    EXPECT_TRUE(Form->PlaybackMode);
    EXPECT_TRUE(Form->PlaybackFileName.isEmpty());
    EXPECT_FALSE(Form->SpkFile.Reader.IsOpen());
    EXPECT_FALSE(Form->BtnStartStop->isEnabled());
    EXPECT_EQ(Form->StatusText(3), QString());
    EXPECT_EQ(Form->LblMax->text(), QString());
    EXPECT_FLOAT_EQ(Form->FreqOffset, 2.0f); // the previous file's, untouched
}

TEST_F(RecordingTest, PositionBarJumpsProportionallyAndStaysOnTheBar)
{
    StartWindow();
    const QString file = Path("thousand.spk");
    WriteFile(file, {HeaderRecord("       0.000", "     0.0")});
    ASSERT_EQ(::truncate(file.toLocal8Bit().constData(), 1000L * RecordSize), 0);
    {
        std::fstream out(file.toStdString(), std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(500L * RecordSize);
        out.write(reinterpret_cast<const char*>(DataRecord(46001.5, 5).data()), RecordSize);
    }
    EnterPlaybackAndLoad(file);
    Form->PB->setFixedWidth(400);
    ReleaseOnPB(200);
    EXPECT_EQ(Form->PB->value(), 500);
    EXPECT_EQ(Form->LblAkt->text(), QStringLiteral("Pos: 500"));
    Form->BtnStartStop->click();
    Form->Timer1Timer();
    EXPECT_EQ(Stamps, std::vector<double>{46001.5});
    EXPECT_EQ(Form->LblAkt->text(), QStringLiteral("Pos: 501"));
    Form->PBMouseUp(-30); // released left of the bar: never the header
    EXPECT_EQ(Form->PB->value(), 1);
    EXPECT_EQ(Form->SpkFile.Reader.Position(), 1);
    Form->PBMouseUp(900);
    EXPECT_EQ(Form->PB->value(), 1000);
}

// Past 2^32 bytes every position stays exact: load, seek and play to the end.
TEST_F(RecordingTest, FilesBeyondFourGibibytesSeekAndPlayToTheEnd)
{
    StartWindow();
    const QString file = Path("big.spk");
    const int64_t records = (int64_t{1} << 32) / RecordSize + 40;
    WriteFile(file, {});
    ASSERT_EQ(::truncate(file.toLocal8Bit().constData(), records * RecordSize), 0);
    EnterPlaybackAndLoad(file);
    ASSERT_EQ(Form->LblMax->text(), QStringLiteral("Max: %1").arg(records));
    Form->PB->setFixedWidth(400);
    const int position = quillex::RoundHalfEven(double(records) / 400 * 399);
    {
        std::fstream out(file.toStdString(), std::ios::in | std::ios::out | std::ios::binary);
        for (int64_t k : {int64_t{position}, records - 1}) {
            out.seekp(k * RecordSize);
            out.write(reinterpret_cast<const char*>(DataRecord(double(k), 3).data()), RecordSize);
        }
    }
    Form->PBMouseUp(399);
    ASSERT_EQ(Form->PB->value(), position);
    Form->SEFft->setValue(8);
    Form->RBSync->setChecked(true);
    Form->BtnStartStop->click();
    ASSERT_EQ(static_cast<int64_t>(Stamps.size()), records - position);
    EXPECT_EQ(Stamps.front(), double(position));
    EXPECT_EQ(Stamps.back(), double(records - 1));
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
}

TEST_F(RecordingTest, RecordedFramesPlayBackToTheSameLevels)
{
    StartWindow({}); // the simulated receiver's full blocks
    Record(Path("round.spk"));
    Form->BtnStartStop->click();
    for (int i = 0; i < 6; ++i) {
        Form->Timer1Timer();
        Clock.Advance(2.0);
    }
    Form->BtnStartStop->click();
    const auto recordedLevels = Levels;
    const auto recordedStamps = Stamps;
    ASSERT_EQ(recordedStamps.size(), 6u);
    Levels.clear();
    Stamps.clear();
    EnterPlaybackAndLoad(Path("round.spk"));
    Form->RBSync->setChecked(true);
    Form->BtnStartStop->click();
    EXPECT_EQ(Stamps, recordedStamps);
    EXPECT_TRUE(Levels == recordedLevels);
}

// A file system that fills up (a file size limit) ends the recording once; the
// acquisition goes on and every whole record stays in the file.
TEST_F(RecordingTest, WriteFailureStopsTheRecordingOnceAndKeepsWholeRecords)
{
    StartWindow();
    Record(Path("full.spk"));
    Form->BtnStartStop->click(); // header
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = 3 * RecordSize + RecordSize / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    for (int i = 0; i < 5; ++i)
        Form->Timer1Timer();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(Stamps.size(), 5u);
    ASSERT_EQ(Files.Errors.size(), 1);
    EXPECT_TRUE(Files.Errors[0].startsWith(QStringLiteral("Recording stopped")));
    EXPECT_FALSE(Form->BtnRecord->isChecked());
    EXPECT_TRUE(Form->BtnStartStop->isChecked());
    EXPECT_EQ(Form->StatusText(3), QString());
    EXPECT_EQ(ReadFile(Path("full.spk")).size(), 3u * RecordSize);
    Form->BtnStartStop->click();
    EXPECT_EQ(Files.Errors.size(), 1);
    EXPECT_TRUE(Form->BtnPlayback->isEnabled());
}

// Writing on into a removed file fails nowhere, yet keeps nothing: it ends the recording.
TEST_F(RecordingTest, RemovingTheFileWhileRecordingStopsTheRecordingOnce)
{
    StartWindow();
    Record(Path("gone.spk"));
    Form->BtnStartStop->click();
    Form->Timer1Timer();
    ASSERT_TRUE(QFile::remove(Path("gone.spk")));
    Form->Timer1Timer();
    Form->Timer1Timer();
    EXPECT_EQ(Stamps.size(), 3u);
    ASSERT_EQ(Files.Errors.size(), 1);
    EXPECT_TRUE(Files.Errors[0].contains(QStringLiteral("gone.spk was removed")));
    EXPECT_FALSE(Form->BtnRecord->isChecked());
    EXPECT_TRUE(Form->BtnStartStop->isChecked());
}

TEST_F(RecordingTest, ClosingWhileRecordingLeavesWholeRecords)
{
    StartWindow();
    Files.Answers.push_back(TPrompts::TAnswer::No);
    Record(Path("closed.spk"));
    Form->RBSync->setChecked(true);
    Form->OnFrameProcessed = [this] {
        if (++Frames == 20)
            QTimer::singleShot(0, Form.get(), [this] { Form->close(); });
    };
    Form->BtnStartStop->click();
    EXPECT_EQ(Frames, 20); // the close ended the loop at once
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    EXPECT_FALSE(Form->SpkFile.Writer.IsOpen());
    const size_t size = ReadFile(Path("closed.spk")).size();
    EXPECT_EQ(size % RecordSize, 0u);
    EXPECT_EQ(size / RecordSize, static_cast<size_t>(Frames + 1));
}
