#include "DateTimeU.h"
#include "LimitEventLog.h"
#include "test_file_support.h"

using namespace quillex;
using LimitEventLogTest = TempFileTest;

namespace {

const std::string Header = "start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB\n";

TLimitEpisode Episode(int Second, TLimitKind Kind)
{
    TLimitEpisode e;
    e.Kind = Kind;
    e.Start = EncodeDateTime(2026, 12, 6, 23, 59, Second, 517);
    e.End = EncodeDateTime(2026, 12, 7, 0, 0, 2, 5);
    e.FirstFrame = 1234;
    e.LastFrame = 1301;
    e.Worst = {14.25041249, -73.456, 6.3049};
    return e;
}

} // namespace

TEST(LimitEventLog, OneLinePerEpisode)
{
    EXPECT_EQ(LimitLogHeader(), Header);
    EXPECT_EQ(LimitLogLine(Episode(58, TLimitKind::Upper)),
              "2026-12-06T23:59:58.517,2026-12-07T00:00:02.005,1234,1301,upper,14.250412,"
              "-73.46,6.30\n");
    // Frames without a time keep the columns empty; a level that rounds to zero has no sign.
    TLimitEpisode lower = Episode(1, TLimitKind::Lower);
    lower.Start = lower.End = 0;
    lower.Worst = {-0.0000004, -0.004, 0.126};
    EXPECT_EQ(LimitLogLine(lower), ",,1234,1301,lower,0.000000,0.00,0.13\n");
}

TEST_F(LimitEventLogTest, AppendsWholeLinesToItsOwnFilesOnly)
{
    TLimitEventLog log;
    log.Open(Path);
    EXPECT_EQ(Content(), Header);
    log.Append(Episode(1, TLimitKind::Upper));
    EXPECT_EQ(Content(), Header + LimitLogLine(Episode(1, TLimitKind::Upper)));
    log.Close();

    // Opened again it appends, after mending a last line without its end.
    Put(Header + "x");
    log.Open(Path);
    log.Append(Episode(2, TLimitKind::Lower));
    EXPECT_EQ(Content(), Header + "x\n" + LimitLogLine(Episode(2, TLimitKind::Lower)));
    log.Close();
    // A log whose lines end in CR LF, as another system's editor saves it, is still the log.
    const std::string crlf = Header.substr(0, Header.size() - 1) + "\r\n";
    Put(crlf);
    log.Open(Path);
    log.Append(Episode(2, TLimitKind::Lower));
    EXPECT_EQ(Content(), crlf + LimitLogLine(Episode(2, TLimitKind::Lower)));
    log.Close();

    // Other files are refused and left as they are, however short.
    for (const std::string other : {"MHz,upper_dBm,lower_dBm\n1,-40,\n", "x"}) {
        Put(other);
        EXPECT_THROW(log.Open(Path), ELimitLogError);
        EXPECT_FALSE(log.IsOpen());
        EXPECT_EQ(Content(), other);
    }
    EXPECT_THROW(log.Open((Dir / "none" / "log.csv").string()), ELimitLogError);
    // A header that cannot be written leaves no log open.
    EXPECT_THROW(log.Open("/dev/full"), ELimitLogError);
    EXPECT_FALSE(log.IsOpen());
}
