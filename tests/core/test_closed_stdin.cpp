// A program started without standard input (by a service manager, or with <&-) gets
// descriptor 0 for the first file it opens: every file the core opens must work on it, and
// give it back when closed.
#include "FrameTimes.h"
#include "IniFileU.h"
#include "LimitEventLog.h"
#include "SpkFile.h"
#include "SpkRecordFile.h"
#include "test_file_support.h"

#include <cstring>
#include <vector>

#include <fcntl.h>

using namespace quillex;
using ClosedStdinTest = TempFileTest;

namespace {

bool InUse(int Fd)
{
    return ::fcntl(Fd, F_GETFD) != -1;
}

// Runs Body with descriptor 0 free; Body checks that its file took it. Afterwards 0 must be
// free again: the object closed what it opened.
template <typename F> void WithoutStdin(F Body)
{
    const int saved = ::dup(0);
    ::close(0);
    Body();
    EXPECT_FALSE(InUse(0)) << "descriptor 0 left open";
    if (saved >= 0) {
        ::dup2(saved, 0);
        ::close(saved);
    }
}

} // namespace

TEST_F(ClosedStdinTest, RecordingsSettingsAndLogsOnDescriptorZero)
{
    const std::string recording = (Dir / "r.spk").string(), settings = (Dir / "q.ini").string();
    const std::vector<int16_t> block(8192, -1234);
    WithoutStdin([&] {
        // A second file from the same writer closes the first, whose descriptor it gets.
        TSpkWriter writer;
        writer.Create(Path);
        EXPECT_TRUE(InUse(0));
        writer.Create(recording);
        writer.AppendHeader(1.5, -3, false, '.');
        for (int r = 1; r <= 3; ++r)
            writer.AppendRecord(46000.0 + r, block.data());
    });
    ASSERT_EQ(std::filesystem::file_size(recording), 4u * FrameRecordSize);
    for (const bool map : {true, false})
        WithoutStdin([&] {
            TSpkRecordFile file;
            file.Open(recording, map);
            EXPECT_TRUE(InUse(0));
            std::vector<uint8_t> record(FrameRecordSize);
            file.ReadRecords(2, 1, record.data());
            EXPECT_EQ(std::memcmp(record.data() + 8, block.data(), 2 * block.size()), 0);
        });
    WithoutStdin([&] {
        const TSpkStampReader stamps(recording);
        EXPECT_TRUE(InUse(0));
        EXPECT_EQ(stamps(3), 46003.0);
    });
    WithoutStdin([&] { TIniFile(settings).WriteInteger("Display", "Rows", 321); });
    WithoutStdin([&] { EXPECT_EQ(TIniFile(settings).ReadInteger("Display", "Rows", 0), 321); });
    WithoutStdin([&] {
        // Opened again, the log closes itself first and gets descriptor 0 again.
        TLimitEventLog log;
        log.Open(Path);
        EXPECT_TRUE(InUse(0));
        log.Append(TLimitEpisode{});
        log.Open(Path);
        log.Append(TLimitEpisode{});
    });
    EXPECT_EQ(Content(), LimitLogHeader() + LimitLogLine({}) + LimitLogLine({}));
}
