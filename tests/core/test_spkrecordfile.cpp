// Record access for the exporter, mapped and by pread: the same bytes either way, pages
// given back without losing records, and a file cut short while open is an error, not a
// crash.
#include "SpkFile.h"
#include "SpkRecordFile.h"
#include "test_file_support.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

using namespace quillex;
using SpkRecordFileTest = TempFileTest;

namespace {

// Record R holds bytes (R * 31 + i) mod 251 at its offsets i: no two records alike.
uint8_t ByteOf(int64_t Record, size_t I)
{
    return uint8_t((Record * 31 + int64_t(I)) % 251);
}

std::string Records(int64_t Count, size_t Extra)
{
    std::string bytes(size_t(Count) * FrameRecordSize + Extra, '\0');
    for (size_t at = 0; at < bytes.size(); ++at)
        bytes[at] = char(ByteOf(int64_t(at / FrameRecordSize), at % FrameRecordSize));
    return bytes;
}

// Whether Count records from First on, at Data, are those Records() wrote.
::testing::AssertionResult AreRecords(const uint8_t* Data, int64_t First, int64_t Count)
{
    for (int64_t r = 0; r < Count; ++r)
        for (size_t i = 0; i < size_t(FrameRecordSize); ++i)
            if (Data[size_t(r) * FrameRecordSize + i] != ByteOf(First + r, i))
                return ::testing::AssertionFailure()
                       << "record " << First + r << " differs at byte " << i;
    return ::testing::AssertionSuccess();
}

} // namespace

TEST_F(SpkRecordFileTest, MappedAndReadRecordsAgreeAndSurviveTheirRelease)
{
    Put(Records(9, 1000)); // a partial tenth record
    for (const bool map : {true, false}) {
        SCOPED_TRACE(map ? "mapped" : "pread");
        TSpkRecordFile file;
        file.Open(Path, map);
        EXPECT_EQ(file.Mapped(), map);
        EXPECT_EQ(file.WholeRecords(), 9);
        std::vector<uint8_t> buffer(3 * size_t(FrameRecordSize));
        file.ReadRecords(6, 3, buffer.data());
        EXPECT_TRUE(AreRecords(buffer.data(), 6, 3));
        const uint8_t* mapped = file.MappedRecords(2, 4);
        EXPECT_EQ(mapped != nullptr, map);
        if (mapped != nullptr) {
            EXPECT_TRUE(AreRecords(mapped, 2, 4));
        }
        // Given back, the records read the same again, mapped or copied.
        file.Release(0, 5);
        file.Release(2, 3);
        file.Release(7, 20); // past the last record: up to it
        if (map) {
            EXPECT_TRUE(AreRecords(file.MappedRecords(0, 9), 0, 9));
        }
        file.ReadRecords(0, 2, buffer.data());
        EXPECT_TRUE(AreRecords(buffer.data(), 0, 2));
        // The partial record and anything past it is no record.
        EXPECT_THROW(file.ReadRecords(8, 2, buffer.data()), ESpkReadError);
        EXPECT_THROW(file.MappedRecords(9, 1), ESpkReadError);
        EXPECT_THROW(file.MappedRecords(-1, 1), ESpkReadError);
        EXPECT_THROW(file.MappedRecords(2, -1), ESpkReadError);
        EXPECT_NO_THROW(file.MappedRecords(9, 0));
    }
}

TEST_F(SpkRecordFileTest, FileCutShortWhileOpenIsAReadError)
{
    for (const bool map : {true, false}) {
        SCOPED_TRACE(map ? "mapped" : "pread");
        Put(Records(40, 0));
        TSpkRecordFile file;
        file.Open(Path, map);
        ASSERT_EQ(file.WholeRecords(), 40);
        std::filesystem::resize_file(Path, 10 * FrameRecordSize + 5);
        std::vector<uint8_t> buffer(FrameRecordSize);
        file.ReadRecords(9, 1, buffer.data()); // still there
        EXPECT_TRUE(AreRecords(buffer.data(), 9, 1));
        errno = EINTR; // left by an interrupted call: the end of the file still ends the read
        EXPECT_THROW(file.ReadRecords(30, 1, buffer.data()), ESpkReadError);
        if (map) {
            EXPECT_THROW(file.MappedRecords(20, 2), ESpkReadError);
        }
    }
}
