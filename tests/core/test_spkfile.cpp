#include "SpkFile.h"
#include "test_file_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <tuple>
#include <vector>

using namespace quillex;
using SpkFileTest = TempFileTest;

namespace {

std::vector<int16_t> Block(int seed)
{
    std::vector<int16_t> block(SampleBlockSamples);
    for (int i = 0; i < SampleBlockSamples; ++i)
        block[i] = static_cast<int16_t>((i * 7919 + seed * 104729) % 65536 - 32768);
    return block;
}

// The bytes of a data record.
std::string Record(double stamp, int seed)
{
    std::string record(FrameRecordSize, '\0');
    EncodeDataRecord(stamp, Block(seed).data(), reinterpret_cast<uint8_t*>(record.data()));
    return record;
}

// The 28 text bytes of a header; Tail receives what follows them up to the first of the
// trailing zero bytes.
std::string HeaderText(double freq, double level, bool inverted, char separator,
                       std::string* tail = nullptr)
{
    static uint8_t record[FrameRecordSize];
    FormatOffsetsHeader(freq, level, inverted, separator, record);
    size_t end = FrameRecordSize;
    while (end > 28 && record[end - 1] == 0)
        --end;
    const std::string rest(record + 28, record + end);
    if (tail != nullptr)
        *tail = rest;
    else
        EXPECT_EQ(rest, "") << "unexpected bytes after the level text";
    return {record, record + 28};
}

TOffsetsHeader Parse(const std::string& text)
{
    std::vector<uint8_t> record(FrameRecordSize, 0);
    std::copy(text.begin(), text.end(), record.begin());
    const auto header = ParseOffsetsHeader(record.data(), record.size());
    if (!header)
        throw std::logic_error("not a header: " + text);
    return *header;
}

} // namespace

// Golden texts; each parses back to values that format to the same text.
TEST(SpkHeader, GoldenTextsAndRoundTrip)
{
    const std::tuple<double, double, bool, char, std::string> cases[] = {
        {0.5, 12.5, true, '.', "Offsets:      -0.500    12.5"},
        {1234.5678, -7.25, false, ',', "Offsets:    1234,568    -7,2"},
        {0.0, 0.0, false, '.', "Offsets:       0.000     0.0"},
        {-0.0004, 0.0, false, '.', "Offsets:       0.000     0.0"},
        {9999999.999, -99999.9, true, '.', "Offsets:-9999999.999-99999.9"}};
    for (const auto& [freq, level, inverted, separator, text] : cases) {
        EXPECT_EQ(HeaderText(freq, level, inverted, separator), text);
        const TOffsetsHeader back = Parse(text);
        EXPECT_EQ(HeaderText(back.FreqOffset, back.LevelOffset, back.Inverted, separator), text);
    }
    const TOffsetsHeader inverted = Parse("Offsets:      -0.500    12.5");
    EXPECT_TRUE(inverted.FreqOffset == 0.5 && inverted.LevelOffset == 12.5 && inverted.Inverted);

    // Texts wider than their fields would be cut into other numbers.
    uint8_t record[FrameRecordSize];
    for (const auto& [freq, level] : {std::pair{99999999.0, 0.0}, std::pair{0.0, -100000.0},
                                      std::pair{std::numeric_limits<double>::quiet_NaN(), 0.0}})
        EXPECT_THROW(FormatOffsetsHeader(freq, level, true, '.', record), ESpkFormatError) << freq;
}

// Every sign of the offset with and without inversion reads back as recorded. Where a
// negated offset tells the inversion, the header is the plain one of old; a negative
// offset or an inverted zero stores the offset as it is and marks the inversion after
// the level text, which older files lack: without it the old reading holds.
TEST(SpkHeader, SignAndInversionRoundTrip)
{
    for (const double freq : {1.5, -1.5, 0.0, -250.125})
        for (const bool inverted : {false, true}) {
            SCOPED_TRACE(std::to_string(freq) + (inverted ? " inverted" : ""));
            const bool plain = freq > 0 || (freq == 0 && !inverted);
            char text[32];
            std::snprintf(text, sizeof text, "Offsets:%12.3f%8.1f",
                          plain && inverted ? -freq : freq + 0.0, -3.0);
            std::string tail;
            EXPECT_EQ(HeaderText(freq, -3.0, inverted, '.', &tail), text);
            EXPECT_EQ(tail, plain ? "" : std::string("Inverted:") + (inverted ? '1' : '0'));
            const TOffsetsHeader back = Parse(text + tail);
            EXPECT_TRUE(back.FreqOffset == freq && back.Inverted == inverted &&
                        back.LevelOffset == -3)
                << back.FreqOffset << " " << back.Inverted;
        }
    // Without a readable mark, and with spaces on both sides of a field, the old reading.
    for (const char* text :
         {"Offsets:      -1.500    -3.0", "Offsets:      -1.500    -3.0Inverted:",
          "Offsets:      -1.500    -3.0Inverted:x", "Offsets:      -1.500    -3.0inverted:0",
          "Offsets:       1.500    -3.0Inverted:1", "Offsets:  -1.5        -3.0  "}) {
        const TOffsetsHeader back = Parse(text);
        EXPECT_TRUE(back.FreqOffset == 1.5 && back.Inverted) << text;
    }
    // A record that ends before the mark's flag has no mark: the flag past its end is not read.
    std::vector<uint8_t> cut(FrameRecordSize, 0);
    std::memcpy(cut.data(), "Offsets:      -1.500    -3.0Inverted:0", 38);
    const std::optional<TOffsetsHeader> head = ParseOffsetsHeader(cut.data(), 37);
    ASSERT_TRUE(head);
    EXPECT_TRUE(head->FreqOffset == 1.5 && head->Inverted);
}

TEST(SpkHeader, OtherRecordsAndGarbageTexts)
{
    std::vector<uint8_t> record(FrameRecordSize, 0);
    EXPECT_FALSE(ParseOffsetsHeader(record.data(), record.size()));
    std::memcpy(record.data(), "Offsets:       0.500    12.5", 28);
    EXPECT_FALSE(ParseOffsetsHeader(record.data(), 7));
    EXPECT_THROW(ParseOffsetsHeader(record.data(), 20), ESpkFormatError);
    for (const char* text : {"Offsets:  not a number    12.5", "Offsets:       0.500    1x.5",
                             "Offsets:                    ", "Offsets:         inf    12.5"})
        EXPECT_THROW(Parse(text), ESpkFormatError) << text;
    // A field filled to its width is quoted whole.
    const std::string whole =
        Thrown<ESpkFormatError>([] { Parse("Offsets:12345x7890ab    12.5"); });
    EXPECT_NE(whole.find("(\"12345x7890ab\")"), std::string::npos) << whole;

    // The message quotes the field, but only what can be shown of it.
    std::memcpy(record.data() + 8,
                "\x01\xff\n\x1b[2J\x7f"
                "7\xc3\xa9",
                12);
    const std::string message =
        Thrown<ESpkFormatError>([&] { ParseOffsetsHeader(record.data(), record.size()); });
    EXPECT_TRUE(std::all_of(message.begin(), message.end(), [](char c) {
        return c >= 0x20 && c < 0x7f;
    })) << message;
    EXPECT_NE(message.find("(\"????[2J?7??\")"), std::string::npos) << message;
    EXPECT_LT(message.size(), 100u);
}

// Whole recordings are written and played back through the window's tests; here the
// edges: seeking before the start fails, past the end reads nothing, and Create replaces.
TEST_F(SpkFileTest, SeekEdgesAndCreateReplaces)
{
    TSpkWriter writer;
    writer.Create(Path);
    writer.AppendHeader(0.25, -3.0, true, ',');
    writer.AppendRecord(46001.0, Block(1).data());
    writer.AppendRecord(0.0, Block(2).data());
    EXPECT_EQ(writer.RecordCount(), 3);
    writer.Close();
    TSpkReader reader;
    reader.Open(Path);
    reader.Seek(2);
    std::vector<int16_t> block(SampleBlockSamples);
    double stamp = -1;
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    EXPECT_TRUE(stamp == 0.0 && block == Block(2) && reader.AtEnd());
    reader.Seek(9);
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::End);
    EXPECT_THROW(reader.Seek(-1), ESpkReadError);
    // Created again, the file holds only what is written now: here a record's golden bytes.
    std::fill(block.begin(), block.end(), 0);
    block[0] = 1;
    block[1] = -2;
    block[8191] = 0x1234;
    writer.Create(Path);
    writer.AppendRecord(45000.5, block.data());
    writer.Close();
    std::string expected(FrameRecordSize, '\0');
    expected.replace(0, 12, "\x00\x00\x00\x00\x10\xf9\xe5\x40\x01\x00\xfe\xff", 12);
    expected.replace(FrameRecordSize - 2, 2, "\x34\x12");
    EXPECT_TRUE(Content() == expected);
}

// Sizes count to the nearest record; a trailing partial record reads short, zero-filled.
TEST_F(SpkFileTest, TrailingPartialRecordsCountToNearestAndReadShort)
{
    const std::string record = Record(46001.0, 5);
    const int half = FrameRecordSize / 2;
    const int cases[][3] = {{2, 100, 2}, {2, 9000, 3}, {2, half, 2}, {1, half, 2}, {0, 0, 0}};
    TSpkReader reader;
    for (const auto& [records, extra, count] : cases) {
        Put((record + record + record).substr(0, records * FrameRecordSize + extra));
        reader.Open(Path);
        EXPECT_EQ(reader.RecordCount(), count) << records << " records + " << extra << " bytes";
    }

    Put(record + record.substr(0, 1000));
    reader.Open(Path);
    std::vector<int16_t> block(SampleBlockSamples, 77);
    double stamp = 0;
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Short);
    EXPECT_EQ(stamp, 46001.0);
    std::vector<int16_t> expected = Block(5);
    std::fill(expected.begin() + (1000 - StampBytes) / 2, expected.end(), 0);
    EXPECT_EQ(block, expected);
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::End);

    // Not even a whole stamp, and the whole stamp but no sample.
    for (const auto& [bytes, want] : {std::pair{5, 0.0}, std::pair{StampBytes, 46001.0}}) {
        Put(record.substr(0, size_t(bytes)));
        reader.Open(Path);
        EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Short);
        EXPECT_EQ(stamp, want) << bytes;
    }
}

// Sizes and records of a sparse file beyond 4 GiB; and, a device that accepts every offset
// standing in for a file system reporting huge sizes, positions exact up to the last record
// whose start fits a file offset.
TEST_F(SpkFileTest, SparseFileBeyondFourGibibytesAndTheLargestRecordIndexes)
{
    const int64_t records = (int64_t{1} << 32) / FrameRecordSize + 100;
    const int64_t size = records * FrameRecordSize;
    Put("");
    std::filesystem::resize_file(Path, size);
    std::fstream(Path, std::ios::in | std::ios::out | std::ios::binary)
            .seekp(size - FrameRecordSize)
        << Record(46002.5, 9);
    TSpkReader reader;
    reader.Open(Path);
    EXPECT_EQ(reader.ByteSize(), size);
    EXPECT_EQ(reader.RecordCount(), records);
    reader.Seek(records - 1);
    std::vector<int16_t> block(SampleBlockSamples);
    double stamp = -1;
    ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full);
    EXPECT_TRUE(stamp == 46002.5 && block == Block(9));
    EXPECT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::End);

    const int64_t last = std::numeric_limits<int64_t>::max() / FrameRecordSize;
    reader.Open("/dev/zero");
    for (const int64_t record : {int64_t{0}, int64_t{1}, last - 1, last}) {
        reader.Seek(record);
        EXPECT_EQ(reader.Position(), record);
        ASSERT_EQ(reader.ReadRecord(stamp, block.data()), TSpkReadResult::Full) << record;
        EXPECT_EQ(reader.Position(), record + 1);
    }
    EXPECT_TRUE(stamp == 0.0 && block == std::vector<int16_t>(SampleBlockSamples, 0));
    for (const int64_t record : {last + 1, std::numeric_limits<int64_t>::max()})
        EXPECT_THROW(reader.Seek(record), ESpkReadError) << record;
    EXPECT_EQ(reader.Position(), last + 1); // a refused seek leaves the position alone
}

// A record that breaks off (a full disk) is cut off again and closes the file, which keeps
// what it held and its whole records; the reason names the file, and nothing more is written.
TEST_F(SpkFileTest, ABrokenRecordIsCutOffAndClosesTheFile)
{
    Put("kept;");
    TWholeRecordWriter writer;
    ASSERT_TRUE(writer.Open(Path, TWholeRecordWriter::TMode::Append));
    {
        const TFullDisk full(5 + 2 * 10 + 4);
        for (const char* record : {"record 01;", "record 02;"})
            ASSERT_TRUE(writer.Write(record, 10));
        EXPECT_FALSE(writer.Write("record 03;", 10));
    }
    EXPECT_EQ(writer.Error(), "Cannot write to " + Path + ": " + std::strerror(EFBIG));
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.Write("record 04;", 10));
    EXPECT_EQ(Content(), "kept;record 01;record 02;");
}

// The file removed, renamed or replaced under the writer: the next write is refused and says
// so, the file is closed, and what has the name now (or the file under its new name) is left as
// it is.
TEST_F(SpkFileTest, AFileGoneFromUnderTheWriterTakesNoMore)
{
    const std::string moved = (Dir / "moved").string();
    const std::function<void()> remove = [&] { std::remove(Path.c_str()); };
    const std::function<void()> rename = [&] { std::rename(Path.c_str(), moved.c_str()); };
    const std::function<void()> replace = [&] { rename(), Put("other"); };
    for (const auto& [change, there, movedHolds] :
         {std::tuple{remove, "", ""}, {rename, "", "first;"}, {replace, "other", "first;"}}) {
        std::remove(moved.c_str());
        TWholeRecordWriter writer;
        ASSERT_TRUE(writer.Open(Path, TWholeRecordWriter::TMode::Replace));
        ASSERT_TRUE(writer.Write("first;", 6));
        change();
        EXPECT_FALSE(writer.Write("second;", 7));
        EXPECT_EQ(writer.Error(), Path + " was removed, renamed or replaced: nothing more is "
                                         "written to it");
        EXPECT_FALSE(writer.IsOpen());
        EXPECT_EQ(Content(), there);
        std::ifstream in(moved, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), movedHolds);
    }
}

// The creation failure is checked where the window records.
TEST_F(SpkFileTest, OpenErrorsNameTheFileAndReason)
{
    TSpkReader reader;
    EXPECT_THROW(reader.Open(Dir.string()), ESpkReadError);
    EXPECT_EQ(Thrown<ESpkReadError>([&] { reader.Open(Path); }),
              "Cannot open " + Path + ": " + std::strerror(ENOENT));
    double stamp = 0;
    std::vector<int16_t> block(SampleBlockSamples);
    EXPECT_THROW(reader.ReadRecord(stamp, block.data()), ESpkReadError);
}
