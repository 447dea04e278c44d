#include "AlarmRecorder.h"
#include "DateTimeU.h"
#include "test_file_support.h"

#include <filesystem>
#include <numeric>
#include <vector>

using namespace quillex;

namespace {

// Frame I: every tenth of a second from 2026-12-06 14:03:00, samples that tell it apart
// (the first is I),
// and a stamp on every tenth frame, as the window's time labels give them.
const double T0 = EncodeDateTime(2026, 12, 6, 14, 3, 0);
double TimeOf(int i)
{
    return T0 + i * 0.1 / 86400.0;
}
double StampOf(int i)
{
    return i % 10 == 0 ? TimeOf(i) : 0.0;
}
std::vector<int16_t> BlockOf(int i)
{
    std::vector<int16_t> block(SampleBlockSamples);
    block[0] = static_cast<int16_t>(i);
    for (int s = 1; s < SampleBlockSamples; ++s)
        block[s] = static_cast<int16_t>((s * 31 + i * 977) % 65536 - 32768);
    return block;
}

// The frames of a recording, by their samples, after checking its header and stamps.
std::vector<int> FramesIn(const std::string& file, const TAlarmRecordingSettings& settings)
{
    TSpkReader reader;
    reader.Open(file);
    std::vector<uint8_t> raw(FrameRecordSize);
    EXPECT_EQ(reader.ReadRaw(raw.data()), size_t(FrameRecordSize));
    const auto header = ParseOffsetsHeader(raw.data(), raw.size());
    EXPECT_TRUE(header.has_value());
    if (header) {
        EXPECT_DOUBLE_EQ(header->FreqOffset, settings.FreqOffset);
        EXPECT_DOUBLE_EQ(header->LevelOffset, settings.LevelOffset);
        EXPECT_EQ(header->Inverted, settings.Inverted);
    }
    EXPECT_EQ(reader.ByteSize() % FrameRecordSize, 0) << "a broken record";
    std::vector<int> frames;
    std::vector<int16_t> block(SampleBlockSamples);
    double stamp = 0;
    while (reader.ReadRecord(stamp, block.data()) == TSpkReadResult::Full) {
        const int i = block[0];
        EXPECT_EQ(block, BlockOf(i)) << "samples of frame " << i;
        EXPECT_EQ(stamp, StampOf(i)) << "stamp of frame " << i;
        frames.push_back(i);
    }
    return frames;
}

std::vector<int> Range(int first, int last)
{
    std::vector<int> v(size_t(last - first + 1));
    std::iota(v.begin(), v.end(), first);
    return v;
}

class AlarmRecorderTest : public TempFileTest
{
protected:
    void SetUp() override
    {
        TempFileTest::SetUp();
        Settings.Folder = Dir.string();
        Settings.PreSeconds = 2;
        Settings.PostSeconds = 1;
        Settings.FreqOffset = 10.7;
        Settings.LevelOffset = -3.5;
        Settings.Inverted = true;
        Recorder.Ring().SetLength(100);
        Recorder.Start(Settings);
    }
    // Frames First .. Last, beyond a limit where Beyond says so.
    template <class TBeyond> void Feed(int First, int Last, TBeyond Beyond)
    {
        for (int i = First; i <= Last; ++i)
            Recorder.Frame(StampOf(i), TimeOf(i), BlockOf(i).data(), Beyond(i));
    }
    std::string NameAt(int i) const
    {
        return (Dir / ("limit_" + FormatDateTime("yyyy-mm-dd_hh-nn-ss.zzz", TimeOf(i)) + ".spk"))
            .string();
    }
    size_t FileCount() const
    {
        return size_t(std::distance(std::filesystem::directory_iterator(Dir), {}));
    }

    TAlarmRecordingSettings Settings;
    TAlarmRecorder Recorder;
};

} // namespace

TEST(FrameRing, KeepsTheLastFramesOldestFirst)
{
    TFrameRing ring;
    ring.Push(1, 1, BlockOf(1).data()); // no length yet: nothing kept
    EXPECT_EQ(ring.Count(), 0);
    ring.SetLength(5);
    for (int i = 0; i < 8; ++i)
        ring.Push(StampOf(i), TimeOf(i), BlockOf(i).data());
    ASSERT_EQ(ring.Count(), 5);
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(ring.Time(j), TimeOf(3 + j));
        EXPECT_EQ(ring.Stamp(j), StampOf(3 + j));
        EXPECT_TRUE(
            std::equal(ring.Block(j), ring.Block(j) + SampleBlockSamples, BlockOf(3 + j).begin()));
    }
    ring.SetLength(5); // the same length keeps the frames
    EXPECT_EQ(ring.Count(), 5);
    ring.SetLength(6);
    EXPECT_EQ(ring.Count(), 0);
    ring.Push(0, TimeOf(9), BlockOf(9).data());
    EXPECT_EQ(ring.Time(0), TimeOf(9));
    ring.SetLength(-3); // no length: nothing kept
    ring.Push(0, TimeOf(8), BlockOf(8).data());
    EXPECT_EQ(ring.Count(), 0);
}

TEST_F(AlarmRecorderTest, AnAlarmWithinThePostSecondsExtendsTheFileALaterOneStartsAnother)
{
    // Bursts at 30 .. 31 and 40 (within a second of 31), then at 52 after the file closed
    // at 51: its pre-trigger seconds reach back into the first file's frames. The file holds
    // the 2 s before the first alarm and the 1 s after the last; the frame after closes it.
    const auto beyond = [](int i) { return i == 30 || i == 31 || i == 40 || i == 52; };
    Feed(0, 62, beyond);
    EXPECT_TRUE(Recorder.Recording());
    Feed(63, 80, beyond);
    EXPECT_FALSE(Recorder.Recording());
    EXPECT_EQ(Recorder.FileName(), NameAt(52));
    EXPECT_EQ(FramesIn(NameAt(30), Settings), Range(10, 50));
    EXPECT_EQ(FramesIn(NameAt(52), Settings), Range(32, 62));
    EXPECT_EQ(FileCount(), 2u);

    // The end of a run closes the file and forgets the frames before it: played again from
    // frame 70, the alarm there has no frames before it. A file of its name is never replaced.
    // A short ring gives what it holds.
    Recorder.Finish();
    Path = NameAt(70);
    Put("keep");
    Feed(70, 80, [](int i) { return i == 70; });
    Recorder.Stop();
    EXPECT_EQ(Recorder.FileName(), Path.substr(0, Path.size() - 4) + "_2.spk");
    EXPECT_EQ(FramesIn(Recorder.FileName(), Settings), Range(70, 80));
    EXPECT_EQ(Content(), "keep");
    Recorder.Start(Settings);
    Recorder.Ring().SetLength(5);
    Feed(200, 260, [](int i) { return i == 250; });
    Recorder.Finish();
    EXPECT_EQ(FramesIn(NameAt(250), Settings), Range(245, 260));
    EXPECT_EQ(FileCount(), 5u);
}

TEST_F(AlarmRecorderTest, AWriteFailureStopsRecordingOnceAndKeepsWhatWasWritten)
{
    // Room for the header and 10 records and a bit: the eleventh record breaks off.
    {
        TFullDisk disk(11 * FrameRecordSize + 100);
        Feed(0, 59, [](int) { return false; });
        EXPECT_THROW(Feed(60, 60, [](int) { return true; }), EAlarmRecordError);
        EXPECT_FALSE(Recorder.Active());
        EXPECT_NO_THROW(Feed(61, 120, [](int) { return true; }));
    }
    EXPECT_FALSE(Recorder.Recording());
    EXPECT_EQ(FramesIn(NameAt(60), Settings), Range(40, 49));
    EXPECT_EQ(FileCount(), 1u);

    // Started again, it records the next alarm; the ring holds only the frames since then.
    Recorder.Start(Settings);
    Feed(121, 130, [](int i) { return i == 125; });
    Recorder.Stop();
    EXPECT_EQ(FramesIn(NameAt(125), Settings), Range(121, 130));
}

TEST_F(AlarmRecorderTest, AFileThatCannotBeMadeOrHoldsNoFrameIsReportedAndNotLeft)
{
    // Not even the header fits; the header but no frame.
    for (const rlim_t room : {rlim_t(1000), rlim_t(FrameRecordSize + 1000)}) {
        Recorder.Start(Settings);
        TFullDisk disk(room);
        Feed(0, 10, [](int) { return false; });
        EXPECT_THROW(Feed(11, 11, [](int) { return true; }), EAlarmRecordError);
        EXPECT_EQ(FileCount(), 0u) << room;
    }

    Settings.Folder = (Dir / "gone").string();
    Recorder.Start(Settings);
    const std::string message =
        Thrown<EAlarmRecordError>([&] { Feed(12, 12, [](int) { return true; }); });
    EXPECT_NE(message.find("gone"), std::string::npos) << message;
    EXPECT_FALSE(Recorder.Active());
    EXPECT_EQ(FileCount(), 0u);
}
