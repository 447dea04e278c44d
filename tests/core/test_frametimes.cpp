#include "DateTimeU.h"
#include "FrameTimes.h"
#include "SpkFile.h"
#include "test_file_support.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace quillex;

namespace {

// Stamps of a recording whose frames start at First; 0 where a frame has none. Reads are
// counted, and a read outside the recording fails the test.
struct TRecordingStamps
{
    int64_t First = 1;
    std::vector<double> Stamps;
    int64_t Reads = 0;

    int64_t Last() const { return First + int64_t(Stamps.size()) - 1; }
    double At(int64_t Frame) const { return Stamps[size_t(Frame - First)]; }
    TFrameTimes::TStampReader Reader()
    {
        return [this](int64_t Frame) {
            ++Reads;
            EXPECT_TRUE(Frame >= First && Frame <= Last()) << "read of frame " << Frame;
            return Frame >= First && Frame <= Last() ? At(Frame) : 0.0;
        };
    }
};

bool Marks(double Stamp)
{
    return Stamp > 0 && Stamp < 2958466.0; // before the year 10000
}

// The rule written out over the whole recording: the stamps around the frame, or the
// nearest two when it lies before the first or after the last.
std::optional<double> ExpectedTime(const TRecordingStamps& R, int64_t Frame)
{
    if (Marks(R.At(Frame)))
        return R.At(Frame);
    std::vector<int64_t> stamped;
    for (int64_t f = R.First; f <= R.Last(); ++f)
        if (Marks(R.At(f)))
            stamped.push_back(f);
    if (stamped.size() < 2)
        return std::nullopt;
    const auto after = std::upper_bound(stamped.begin(), stamped.end(), Frame) - stamped.begin();
    const size_t i = size_t(std::clamp<ptrdiff_t>(after, 1, ptrdiff_t(stamped.size()) - 1));
    const int64_t a = stamped[i - 1], b = stamped[i];
    const double span = double(b - a);
    return R.At(a) * double(b - Frame) / span + R.At(b) * double(Frame - a) / span;
}

TRecordingStamps RandomStamps(std::mt19937& Random, int Frames, int EveryOther)
{
    TRecordingStamps r;
    r.First = 1;
    double t = EncodeDateTime(2026, 12, 6, 23, 59, 0);
    for (int f = 0; f < Frames; ++f) {
        t += SecondsToDays(0.025 * (1 + Random() % 4)); // the pace varies: which pair counts
        const unsigned pick = Random() % unsigned(EveryOther);
        // Now and then a stamp that marks nothing: negative, NaN, past the year 9999.
        const double odd[] = {-3.5, std::nan(""), 3.0e6};
        r.Stamps.push_back(pick == 0 ? t : pick == 1 ? odd[Random() % 3] : 0.0);
    }
    return r;
}

void ExpectTimes(TFrameTimes& Times, const TRecordingStamps& R, int64_t Frame)
{
    const auto expected = ExpectedTime(R, Frame);
    const auto time = Times.TimeOf(Frame);
    ASSERT_EQ(time.has_value(), expected.has_value()) << "frame " << Frame;
    if (expected) {
        ASSERT_NEAR(*time, *expected, 1e-10) << "frame " << Frame; // 10 microseconds
    }
    ASSERT_EQ(Times.Stamped(Frame), Marks(R.At(Frame))) << "frame " << Frame;
}

} // namespace

// Every frame's time, for recordings with no stamp, one, two and many, asked in order, at
// random and with steps, with the stamps read as needed or handed in as a reader of the records
// would.
TEST(FrameTimes, EveryFrameFollowsTheRuleOverTheRecordingsStamps)
{
    std::mt19937 random(20261206);
    std::vector<TRecordingStamps> recordings;
    for (const int every : {3, 40, 400})
        recordings.push_back(RandomStamps(random, 1000, every));
    // No stamp, one, two, the first and the last frame stamped, and stamps on neighbouring
    // frames at both ends at an uneven pace (the pair nearest the ends counts).
    const double t0 = EncodeDateTime(2026, 1, 2, 3, 4, 5);
    for (const std::vector<std::pair<size_t, double>>& stamps :
         {std::vector<std::pair<size_t, double>>{},
          {{20, 0}},
          {{20, 0}, {30, 1}},
          {{0, 0}, {49, 2}},
          {{10, 0}, {11, 1}, {20, 3}, {38, 9}, {39, 9.5}}}) {
        TRecordingStamps r;
        r.Stamps.assign(50, 0.0);
        for (const auto& [frame, seconds] : stamps)
            r.Stamps[frame] = t0 + SecondsToDays(seconds);
        recordings.push_back(r);
    }
    // Frames numbered from 0 (no header), stamps running backwards (a clock set back).
    TRecordingStamps back = RandomStamps(random, 300, 20);
    back.First = 0;
    for (double& s : back.Stamps)
        if (Marks(s))
            s = EncodeDateTime(2030, 1, 1, 0, 0, 0) - s / 1000;
    recordings.push_back(back);

    for (size_t i = 0; i < recordings.size(); ++i) {
        SCOPED_TRACE("recording " + std::to_string(i));
        TRecordingStamps& r = recordings[i];
        // In order, at random, skipping a frame each time (just past the known frames), and
        // backwards.
        std::vector<std::vector<int64_t>> orders(4);
        for (int64_t f = r.First; f <= r.Last(); ++f) {
            orders[0].push_back(f);
            if (orders[1].size() < 200)
                orders[1].push_back(r.First + int64_t(random() % r.Stamps.size()));
            if ((f - r.First) % 2 == 0)
                orders[2].push_back(f);
            if ((r.Last() - f) % 3 == 0)
                orders[3].insert(orders[3].begin(), f);
        }
        for (const std::vector<int64_t>& order : orders) {
            TFrameTimes times(r.First, r.Last(), r.Reader());
            for (const int64_t f : order)
                ExpectTimes(times, r, f);
            EXPECT_FALSE(times.TimeOf(r.First - 1) || times.TimeOf(r.Last() + 1));
        }
        // Handed in by batches and forgotten behind, as the export does.
        TFrameTimes times(r.First, r.Last(), r.Reader());
        for (int64_t f = r.First; f <= r.Last(); f += 64) {
            const int64_t count = std::min<int64_t>(64, r.Last() - f + 1);
            times.Note(f, &r.Stamps[size_t(f - r.First)], count);
            for (int64_t g = f; g < f + count; ++g) {
                ExpectTimes(times, r, g);
                times.Forget(g);
            }
        }
    }
}

// Reading stays cheap: with the records' stamps handed in, only the frames up to the next
// stamp beyond them are read; without any stamp in the recording, going through it in
// order reads every frame once, not once for every frame asked.
TEST(FrameTimes, ReadsOnlyWhatTheHandedInStampsLackAndEachFrameOnce)
{
    TRecordingStamps r;
    r.First = 1;
    const double start = EncodeDateTime(2026, 12, 6, 12, 0, 0);
    for (int f = 0; f < 4000; ++f)
        r.Stamps.push_back(f % 40 == 7 ? start + SecondsToDays(f / 40) : 0.0);
    TFrameTimes times(r.First, r.Last(), r.Reader());
    for (int64_t f = r.First; f <= r.Last(); f += 1000) {
        times.Note(f, &r.Stamps[size_t(f - r.First)], 1000);
        for (int64_t g = f; g < f + 1000; ++g) {
            ASSERT_TRUE(times.TimeOf(g).has_value());
            times.Forget(g);
        }
    }
    // Before each later batch is handed in, its frames up to its first stamp (its 8th
    // frame) are read, for the last rows of the batch before it.
    EXPECT_EQ(r.Reads, 3 * 8);
    EXPECT_EQ(times.StampsRead(), r.Reads);
    // Frames asked again behind the forgotten ones are read again, and still right.
    EXPECT_NEAR(*times.TimeOf(1 + 7 + 20), start + SecondsToDays(0.5), 1e-10);

    TRecordingStamps none;
    none.Stamps.assign(3000, 0.0);
    TFrameTimes blank(none.First, none.Last(), none.Reader());
    for (int64_t f = none.First; f <= none.Last(); ++f) {
        ASSERT_FALSE(blank.TimeOf(f).has_value());
        blank.Forget(f);
    }
    EXPECT_EQ(none.Reads, 3000);
}

// What a recording's stamp may be; the stamp's bytes are little-endian.
TEST(FrameTimes, PlausibleStampsAndTheirBytes)
{
    EXPECT_TRUE(IsPlausibleStamp(0.0));
    EXPECT_TRUE(IsPlausibleStamp(EncodeDateTime(1990, 1, 1, 0, 0, 0)));
    EXPECT_TRUE(IsPlausibleStamp(EncodeDateTime(2100, 12, 31, 23, 59, 59, 999)));
    EXPECT_FALSE(IsPlausibleStamp(EncodeDateTime(1989, 12, 31, 23, 59, 59, 999)));
    EXPECT_FALSE(IsPlausibleStamp(EncodeDateTime(2101, 1, 1, 0, 0, 0)));
    EXPECT_FALSE(IsPlausibleStamp(-0.5));
    EXPECT_FALSE(IsPlausibleStamp(std::nan("")));
    EXPECT_FALSE(IsPlausibleStamp(1e-300));

    // 46000.5 = 0x40E6761000000000, read from its 8 bytes alone: they end a readable page.
    const long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<uint8_t*>(mmap(nullptr, size_t(2 * page), PROT_READ | PROT_WRITE,
                                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_TRUE(pages != MAP_FAILED && mprotect(pages + page, size_t(page), PROT_NONE) == 0);
    const uint8_t bytes[8] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x76, 0xE6, 0x40};
    std::memcpy(pages + page - 8, bytes, 8);
    EXPECT_EQ(RecordStamp(pages + page - 8), 46000.5);
    munmap(pages, size_t(2 * page));
}

// Stamps are read from the file's records at their offsets; past its end is an error.
using FrameTimesFile = TempFileTest;

TEST_F(FrameTimesFile, StampReaderReadsEachRecordsFirstBytes)
{
    std::string bytes;
    for (const double stamp : {45000.0, 45001.0, 45002.0})
        bytes += std::string(reinterpret_cast<const char*>(&stamp), sizeof stamp) +
                 std::string(FrameRecordSize - sizeof stamp, '\x5a');
    Put(bytes + "\x5a\x5a\x5a\x5a"); // a partial record: its stamp is cut off
    TSpkStampReader read(Path);
    EXPECT_EQ(read(0), 45000.0);
    EXPECT_EQ(read(2), 45002.0);
    EXPECT_EQ(read(1), 45001.0);
    errno = EINTR; // left by an interrupted call: the end of the file still ends the read
    EXPECT_EQ(Thrown<ESpkReadError>([&] { read(3); }),
              "Cannot read " + Path + ": the file became shorter");
    EXPECT_THROW(read(40), ESpkReadError);
    EXPECT_THROW(TSpkStampReader(Path + ".missing"), ESpkReadError);
}
