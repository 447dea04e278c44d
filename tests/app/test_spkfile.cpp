#include "SpkFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quillex;

namespace {

class SpkFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "spk-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    std::string PathOf(const std::string& name) const { return (Dir / name).string(); }

    static std::vector<uint8_t> Bytes(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static std::vector<int16_t> Block(int seed)
    {
        std::vector<int16_t> block(SampleBlockSamples);
        for (int i = 0; i < SampleBlockSamples; ++i)
            block[i] = static_cast<int16_t>((i * 7919 + seed * 104729) % 65536 - 32768);
        return block;
    }

    std::filesystem::path Dir;
};

std::vector<uint8_t> HeaderBytes(double freq, double level, bool inverted, char separator)
{
    static uint8_t record[FrameRecordSize];
    FormatOffsetsHeader(freq, level, inverted, separator, record);
    return {record, record + FrameRecordSize};
}

} // namespace

TEST(SpkHeader, GoldenBytesOfAnInvertedHeader)
{
    const std::vector<uint8_t> record = HeaderBytes(0.5, 12.5, true, '.');
    const std::string text = "Offsets:      -0.500    12.5";
    ASSERT_EQ(record.size(), static_cast<size_t>(FrameRecordSize));
    EXPECT_EQ(std::string(record.begin(), record.begin() + text.size()), text);
    for (size_t i = text.size(); i < record.size(); ++i)
        ASSERT_EQ(record[i], 0) << "byte " << i;

    const auto header = ParseOffsetsHeader(record.data(), record.size());
    ASSERT_TRUE(header.has_value());
    EXPECT_DOUBLE_EQ(header->FreqOffset, 0.5);
    EXPECT_DOUBLE_EQ(header->LevelOffset, 12.5);
    EXPECT_TRUE(header->Inverted);
}

TEST(SpkHeader, SeparatorSignAndRoundTrip)
{
    const std::vector<uint8_t> comma = HeaderBytes(1234.5678, -7.25, false, ',');
    EXPECT_EQ(std::string(comma.begin(), comma.begin() + 28), "Offsets:    1234,568    -7,2");
    const auto fromComma = ParseOffsetsHeader(comma.data(), comma.size());
    ASSERT_TRUE(fromComma);
    EXPECT_DOUBLE_EQ(fromComma->FreqOffset, 1234.568);
    EXPECT_DOUBLE_EQ(fromComma->LevelOffset, -7.2);
    EXPECT_FALSE(fromComma->Inverted);

    // An inverted zero offset cannot be told from the header: it reads back as not inverted.
    const std::vector<uint8_t> zero = HeaderBytes(0.0, 0.0, true, '.');
    EXPECT_EQ(std::string(zero.begin(), zero.begin() + 28), "Offsets:       0.000     0.0");
    EXPECT_FALSE(ParseOffsetsHeader(zero.data(), zero.size())->Inverted);

    // The widest values that still fit their fields keep every digit.
    const std::vector<uint8_t> wide = HeaderBytes(9999999.999, -99999.9, true, '.');
    EXPECT_EQ(std::string(wide.begin(), wide.begin() + 28), "Offsets:-9999999.999-99999.9");
}

TEST(SpkHeader, OffsetsThatDoNotFitAreRefusedNotCut)
{
    uint8_t record[FrameRecordSize];
    EXPECT_NO_THROW(FormatOffsetsHeader(99999999.0, 0, false, '.', record));
    EXPECT_THROW(FormatOffsetsHeader(99999999.0, 0, true, '.', record), ESpkFormatError);
    EXPECT_THROW(FormatOffsetsHeader(1e9, 0, false, '.', record), ESpkFormatError);
    EXPECT_THROW(FormatOffsetsHeader(0, -100000.0, false, '.', record), ESpkFormatError);
    EXPECT_THROW(
        FormatOffsetsHeader(std::numeric_limits<double>::quiet_NaN(), 0, false, '.', record),
        ESpkFormatError);
    EXPECT_THROW(
        FormatOffsetsHeader(0, std::numeric_limits<double>::infinity(), false, '.', record),
        ESpkFormatError);
}

TEST(SpkHeader, RecordsThatAreNotHeadersOrHoldGarbage)
{
    std::vector<uint8_t> record(FrameRecordSize, 0);
    EXPECT_FALSE(ParseOffsetsHeader(record.data(), record.size()));
    const std::string tag = "Offsets:";
    EXPECT_FALSE(ParseOffsetsHeader(reinterpret_cast<const uint8_t*>(tag.data()), 7));

    std::memcpy(record.data(), "Offsets:  not a number    12.5", 30);
    EXPECT_THROW(ParseOffsetsHeader(record.data(), record.size()), ESpkFormatError);
    std::memcpy(record.data(), "Offsets:       0.500    1x.5", 28);
    EXPECT_THROW(ParseOffsetsHeader(record.data(), record.size()), ESpkFormatError);
    std::memcpy(record.data(), "Offsets:             ", 20);
    EXPECT_THROW(ParseOffsetsHeader(record.data(), record.size()), ESpkFormatError);
    std::memcpy(record.data(), "Offsets:       0.500    12.5", 28);
    EXPECT_THROW(ParseOffsetsHeader(record.data(), 20), ESpkFormatError);
    EXPECT_TRUE(ParseOffsetsHeader(record.data(), 28));
    try {
        std::memcpy(record.data(), "Offsets:         inf    12.5", 28);
        ParseOffsetsHeader(record.data(), record.size());
        ADD_FAILURE() << "inf accepted as an offset";
    } catch (const ESpkFormatError& e) {
        EXPECT_NE(std::string(e.what()).find("frequency"), std::string::npos) << e.what();
    }
}

TEST_F(SpkFileTest, GoldenBytesOfADataRecord)
{
    std::vector<int16_t> block(SampleBlockSamples, 0);
    block[0] = 1;
    block[1] = -2;
    block[8191] = 0x1234;
    TSpkWriter writer;
    writer.Create(PathOf("golden.spk"));
    writer.AppendRecord(45000.5, block.data());
    writer.Close();

    const std::vector<uint8_t> bytes = Bytes(PathOf("golden.spk"));
    ASSERT_EQ(bytes.size(), static_cast<size_t>(FrameRecordSize));
    const uint8_t stamp[8] = {0x00, 0x00, 0x00, 0x00, 0x10, 0xf9, 0xe5, 0x40};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
              std::vector<uint8_t>(stamp, stamp + 8));
    EXPECT_EQ(bytes[8], 0x01);
    EXPECT_EQ(bytes[9], 0x00);
    EXPECT_EQ(bytes[10], 0xfe);
    EXPECT_EQ(bytes[11], 0xff);
    EXPECT_EQ(bytes[FrameRecordSize - 2], 0x34);
    EXPECT_EQ(bytes[FrameRecordSize - 1], 0x12);
    for (int i = 12; i < FrameRecordSize - 2; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST_F(SpkFileTest, WriteThenReadBackWithHeaderAndSeek)
{
    const std::string path = PathOf("run.spk");
    TSpkWriter writer;
    writer.Create(path);
    writer.AppendHeader(0.25, -3.0, true, ',');
    for (int k = 1; k <= 4; ++k)
        writer.AppendRecord(k == 2 ? 0.0 : 46000.0 + k, Block(k).data());
    EXPECT_EQ(writer.RecordCount(), 5);
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());

    TSpkReader reader;
    reader.Open(path);
    EXPECT_EQ(reader.ByteSize(), 5 * FrameRecordSize);
    EXPECT_EQ(reader.RecordCount(), 5);
    std::vector<uint8_t> raw(FrameRecordSize);
    ASSERT_EQ(reader.ReadRaw(raw.data()), static_cast<size_t>(FrameRecordSize));
    const auto header = ParseOffsetsHeader(raw.data(), raw.size());
    ASSERT_TRUE(header);
    EXPECT_DOUBLE_EQ(header->FreqOffset, 0.25);
    EXPECT_DOUBLE_EQ(header->LevelOffset, -3.0);
    EXPECT_TRUE(header->Inverted);

    std::vector<int16_t> block(SampleBlockSamples);
    double stamp = -1;
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(reader.Position(), k);
        EXPECT_FALSE(reader.AtEnd());
        ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
        EXPECT_EQ(stamp, k == 2 ? 0.0 : 46000.0 + k);
        EXPECT_EQ(block, Block(k)) << "record " << k;
    }
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::End);

    // Rewinding and jumping keep reading whole, aligned records.
    reader.Seek(3);
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    EXPECT_EQ(block, Block(3));
    reader.Seek(1);
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    EXPECT_EQ(block, Block(1));
    reader.Seek(9);
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::End);
    EXPECT_THROW(reader.Seek(-1), ESpkReadError);

    // Creating again replaces the old recording.
    writer.Create(path);
    writer.Close();
    EXPECT_TRUE(Bytes(path).empty());
}

TEST_F(SpkFileTest, TrailingPartialRecordsCountToNearestAndReadShort)
{
    const std::string path = PathOf("partial.spk");
    const std::vector<int16_t> full = Block(5);
    const auto make = [&](int records, int extra) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<uint8_t> record(FrameRecordSize);
        EncodeDataRecord(46001.0, full.data(), record.data());
        for (int k = 0; k < records; ++k)
            out.write(reinterpret_cast<const char*>(record.data()), FrameRecordSize);
        out.write(reinterpret_cast<const char*>(record.data()), extra);
    };
    const struct
    {
        int Records, Extra, Count;
    } cases[] = {{3, 0, 3},
                 {2, 100, 2},
                 {2, 9000, 3},
                 {2, FrameRecordSize / 2, 2},
                 {1, FrameRecordSize / 2, 2},
                 {0, 0, 0}};
    TSpkReader reader;
    for (const auto& c : cases) {
        make(c.Records, c.Extra);
        reader.Open(path);
        EXPECT_EQ(reader.RecordCount(), c.Count)
            << c.Records << " records + " << c.Extra << " bytes";
    }

    make(1, 1000);
    reader.Open(path);
    std::vector<int16_t> block(SampleBlockSamples, 77);
    double stamp = 0;
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Short);
    EXPECT_EQ(stamp, 46001.0);
    const int samplesRead = (1000 - StampBytes) / 2;
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + samplesRead, full.begin()));
    EXPECT_TRUE(
        std::all_of(block.begin() + samplesRead, block.end(), [](int16_t v) { return v == 0; }));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.Position(), 2);
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::End);

    make(0, 5); // not even a whole stamp
    reader.Open(path);
    stamp = 1;
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Short);
    EXPECT_EQ(stamp, 0.0);
}

TEST_F(SpkFileTest, FilesBeyondFourGibibytes)
{
    const std::string path = PathOf("big.spk");
    const int64_t records = (int64_t{1} << 32) / FrameRecordSize + 100;
    const int64_t size = records * FrameRecordSize;
    ASSERT_GT(size, int64_t{1} << 32);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    std::vector<uint8_t> record(FrameRecordSize);
    EncodeDataRecord(46002.5, Block(9).data(), record.data());
    ASSERT_EQ(::pwrite(fd, record.data(), FrameRecordSize, size - FrameRecordSize),
              FrameRecordSize);
    ::close(fd);

    TSpkReader reader;
    reader.Open(path);
    EXPECT_EQ(reader.ByteSize(), size);
    EXPECT_EQ(reader.RecordCount(), records);
    reader.Seek(records - 1);
    EXPECT_EQ(reader.Position(), records - 1);
    std::vector<int16_t> block(SampleBlockSamples);
    double stamp = 0;
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    EXPECT_EQ(stamp, 46002.5);
    EXPECT_EQ(block, Block(9));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::End);
    reader.Seek(records - 2);
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    EXPECT_EQ(stamp, 0.0);
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    EXPECT_EQ(stamp, 46002.5);
}

// A full disk, imitated by a file size limit, must leave every whole record
// and none of the broken one, and must be reported.
TEST_F(SpkFileTest, WriteFailureKeepsWholeRecordsOnly)
{
    const std::string path = PathOf("limited.spk");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{2 * FrameRecordSize + FrameRecordSize / 2,
                           2 * FrameRecordSize + FrameRecordSize / 2};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(10);
        TSpkWriter writer;
        writer.Create(path);
        int written = 0;
        try {
            for (; written < 10; ++written)
                writer.AppendRecord(46003.0 + written, Block(written).data());
            _exit(11);
        } catch (const ESpkWriteError& e) {
            const std::string message = e.what();
            if (message.find(path) == std::string::npos ||
                message.find(std::strerror(EFBIG)) == std::string::npos)
                _exit(12);
        }
        if (written != 2 || writer.IsOpen() || writer.RecordCount() != 2)
            _exit(13);
        try {
            writer.AppendRecord(0, Block(0).data());
            _exit(14);
        } catch (const ESpkWriteError&) {
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    const std::vector<uint8_t> bytes = Bytes(path);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(2 * FrameRecordSize));
    std::vector<int16_t> block(SampleBlockSamples);
    double stamp = 0;
    for (int k = 0; k < 2; ++k) {
        DecodeDataRecord(bytes.data() + k * FrameRecordSize, stamp, block.data());
        EXPECT_EQ(stamp, 46003.0 + k);
        EXPECT_EQ(block, Block(k));
    }
}

TEST_F(SpkFileTest, OpenAndCreateErrorsNameTheFileAndReason)
{
    TSpkReader reader;
    const std::string missing = PathOf("missing.spk");
    try {
        reader.Open(missing);
        ADD_FAILURE() << "opened a missing file";
    } catch (const ESpkReadError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos) << e.what();
    }
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_THROW(reader.Open(Dir.string()), ESpkReadError);
    double stamp = 0;
    std::vector<int16_t> block(SampleBlockSamples);
    EXPECT_THROW(reader.ReadRecord(stamp, block.data()), ESpkReadError);
    EXPECT_THROW(reader.Seek(0), ESpkReadError);

    TSpkWriter writer;
    EXPECT_THROW(writer.Create(PathOf("no/such/folder.spk")), ESpkWriteError);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_THROW(writer.AppendRecord(0, block.data()), ESpkWriteError);
}
