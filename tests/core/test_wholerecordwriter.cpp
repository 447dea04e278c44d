#include "WholeRecordWriter.h"
#include "test_file_support.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <tuple>

using namespace quillex;
using WholeRecordWriterTest = TempFileTest;
using TMode = TWholeRecordWriter::TMode;

// A record that breaks off (a full disk) is cut off again and closes the file, which keeps
// what it held and its whole records; the reason names the file, and nothing more is written.
TEST_F(WholeRecordWriterTest, ABrokenRecordIsCutOffAndClosesTheFile)
{
    Put("kept;");
    TWholeRecordWriter writer;
    ASSERT_TRUE(writer.Open(Path, TMode::Append));
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
TEST_F(WholeRecordWriterTest, AFileGoneFromUnderTheWriterTakesNoMore)
{
    const std::string moved = (Dir / "moved").string();
    const std::function<void()> remove = [&] { std::remove(Path.c_str()); };
    const std::function<void()> rename = [&] { std::rename(Path.c_str(), moved.c_str()); };
    const std::function<void()> replace = [&] { rename(), Put("other"); };
    for (const auto& [change, there, movedHolds] :
         {std::tuple{remove, "", ""}, {rename, "", "first;"}, {replace, "other", "first;"}}) {
        std::remove(moved.c_str());
        TWholeRecordWriter writer;
        ASSERT_TRUE(writer.Open(Path, TMode::Replace));
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
