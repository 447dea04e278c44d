#include "test_export_support.h"

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace {

class ExportProgramTest : public ExportFolderTest
{
protected:
    void SetUp() override
    {
        ExportFolderTest::SetUp();
        Good =
            MakeRecordingBytes({.N = 256, .Frames = 12, .Header = "Offsets:       1.250    -3.0"});
        WriteBytes(Path("good.spk"), Good);
    }
    // Every file in the folder but the recordings the test made.
    QStringList Outputs() const
    {
        QStringList names = QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden);
        names.removeIf([](const QString& N) { return N.endsWith(".spk"); });
        return names;
    }

    std::string Good;
};

} // namespace

// Each bad input gives one line on stderr naming the problem, its documented exit code
// and no output file (neither the target nor a temporary one).
TEST_F(ExportProgramTest, BadInputGivesItsExitCodeAndNoOutput)
{
    WriteBytes(Path("short.spk"), Good.substr(0, 16391));
    WriteBytes(Path("corrupt.spk"), "Offsets:    2.0 MHz      1.0" + Good.substr(28));
    WriteBytes(Path("header.spk"), Good.substr(0, 16392));
    QDir(Dir.path()).mkdir("folder.spk");
    const QString good = Path("good.spk");
    const QStringList outputs{"--png", Path("out.png"), "--csv", Path("out.csv")};

    const std::vector<std::tuple<QStringList, int, const char*>> cases = {
        {QStringList{Path("missing.spk")} + outputs, 3, "missing.spk: No such file"},
        {QStringList{Path("folder.spk")} + outputs, 3, "folder.spk"},
        {QStringList{Path("short.spk")} + outputs, 4, "shorter than one record"},
        {QStringList{Path("corrupt.spk")} + outputs, 4, "frequency offset"},
        {QStringList{Path("header.spk")} + outputs, 4, "no frames"},
        {QStringList{good, "--fft-exponent", "13"} + outputs, 2, "--fft-exponent 13"},
        {QStringList{good, "--fft-exponent", "7"} + outputs, 2, "--fft-exponent 7"},
        {QStringList{good, "--average", "65"} + outputs, 2, "--average 65"},
        {QStringList{good, "--average=0"} + outputs, 2, "--average 0"},
        {QStringList{good, "--window", "flat"} + outputs, 2, "--window"},
        {QStringList{good, "--span-mhz", "15"} + outputs, 2, "--span-mhz"},
        {QStringList{good, "--span-mhz", "10", "--centre-mhz", "36"} + outputs, 2, "(5 .. 35)"},
        {QStringList{good, "--first", "0"} + outputs, 2, "--first 0"}, // record 0: the header
        {QStringList{good, "--last", "13"} + outputs, 2, "1 .. 12"},
        {QStringList{good, "--first", "9", "--last", "8"} + outputs, 2, "--first"},
        {QStringList{good, "--fold", "0"} + outputs, 2, "--fold 0"},
        {QStringList{good, "--fold-mode", "median"} + outputs, 2, "--fold-mode"},
        {QStringList{good, "--min-dbm", "-50", "--max-dbm", "-60"} + outputs, 2, "--min-dbm"},
        {QStringList{good, "--min-dbm", "abc"} + outputs, 2, "\"abc\""},
        {QStringList{good, "--frobnicate"} + outputs, 2, "--frobnicate"},
        {QStringList{good, "--png"}, 2, "--png needs a value"},
        {QStringList{good}, 2, "nothing to do"},
        {outputs, 2, "no recording"},
        {QStringList{good, "--csv", Path("no/such/folder/out.csv")}, 5, "out.csv"},
        {QStringList{good, "--csv", good}, 2, "the recording itself"},
        {QStringList{good, "--png", Dir.path()}, 5, "Is a directory"},
    };
    for (const auto& [args, code, text] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const TRun run = RunExport(args);
        EXPECT_EQ(run.Code, code);
        EXPECT_EQ(run.Err.count('\n'), 1) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.startsWith("quillex-export: ") && run.Err.contains(text))
            << run.Err.toStdString();
        EXPECT_EQ(Outputs(), QStringList());
    }
    EXPECT_EQ(QFileInfo(good).size(), qint64(Good.size())); // the recording is untouched

    // A disk that fills up midway: the table cannot be completed, nothing is left behind.
    const TRun full = RunExport({good, "--csv", Path("out.csv")}, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(full.Code, 5) << full.Err.toStdString();
    EXPECT_TRUE(full.Err.contains("out.csv")) << full.Err.toStdString();
    EXPECT_EQ(Outputs(), QStringList());
}

// A partial last record is left out with a warning; a file without header starts at
// frame 0; --first and --last pick frames; --help lists every option and exit code.
TEST_F(ExportProgramTest, PartialRecordsHeaderlessFilesAndFrameRange)
{
    WriteBytes(Path("partial.spk"), Good + std::string(5000, '\1'));
    TRun run = RunExport({Path("partial.spk"), "--csv", Path("p.csv")});
    EXPECT_EQ(run.Code, 0);
    EXPECT_TRUE(run.Err.contains("warning") && run.Err.contains("5000 bytes"))
        << run.Err.toStdString();
    auto table = ReadCsv(Path("p.csv"));
    ASSERT_EQ(table.size(), 1u + 12u);
    EXPECT_EQ(table.back()[1], "12");
    // The header's offset is in the column frequencies: 1.25 MHz + bin * 40 / 2048 MHz
    // (exponent 11 by default).
    EXPECT_EQ(table[0][2], "1.25");
    EXPECT_EQ(table[0][3], "1.26953125");

    WriteBytes(Path("bare.spk"), Good.substr(16392));
    run = RunExport(
        {Path("bare.spk"), "--csv", Path("b.csv"), "--first", "3", "--last", "5", "--quiet"});
    EXPECT_EQ(run.Code, 0);
    EXPECT_EQ(run.Err, "");
    table = ReadCsv(Path("b.csv"));
    ASSERT_EQ(table.size(), 1u + 3u);
    EXPECT_EQ(table[1][1], "3");
    EXPECT_EQ(table[3][1], "5");
    EXPECT_EQ(table[0][2], "0");

    QProcess help;
    help.start(QStringLiteral(QUILLEX_EXPORT_PATH), {"--help"});
    help.waitForFinished();
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = help.readAllStandardOutput();
    for (const char* option : {"--png", "--csv", "--fft-exponent", "--window", "--average",
                               "--span-mhz", "--centre-mhz", "--first", "--last", "--fold",
                               "--fold-mode", "--min-dbm", "--max-dbm", "--quiet", "  5  "})
        EXPECT_TRUE(text.contains(option)) << option;
}

// A pipe as the target is written in place, not replaced by a file; a recording beyond
// 4 GiB is read at its far end.
TEST_F(ExportProgramTest, PipesAndFilesBeyondFourGiB)
{
    const std::string fifo = Path("pipe").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        std::ifstream in(fifo);
        received.assign(std::istreambuf_iterator<char>(in), {});
    });
    const TRun run = RunExport({Path("good.spk"), "--csv", Path("pipe"), "--last", "2"});
    reader.join();
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), 3);
    struct stat info
    {
    };
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    QFile::remove(Path("pipe"));

    // A sparse file: its last record lies past 2^32 bytes.
    const int64_t records = (int64_t{1} << 32) / quillex::FrameRecordSize + 10;
    const std::string big = Path("big.spk").toStdString();
    {
        std::ofstream out(big, std::ios::binary);
        out << Good.substr(0, quillex::FrameRecordSize);
        out.seekp((records - 1) * quillex::FrameRecordSize);
        std::string last = Good.substr(quillex::FrameRecordSize, quillex::FrameRecordSize);
        const double stamp = quillex::EncodeDateTime(2026, 12, 6, 12, 34, 56, 789);
        std::memcpy(last.data(), &stamp, 8);
        out << last;
    }
    ASSERT_GT(std::filesystem::file_size(big), uint64_t{1} << 32);
    const QString last = QString::number(records - 1);
    const TRun far = RunExport({Path("big.spk"), "--csv", Path("far.csv"), "--first",
                                QString::number(records - 2), "--last", last});
    EXPECT_EQ(far.Code, 0) << far.Err.toStdString();
    const auto table = ReadCsv(Path("far.csv"));
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[1][0], ""); // a hole of zeros: no stamp, and -180 dBm everywhere
    EXPECT_NEAR(ParseFloat(table[1][5]), -180.0f, 0.001f);
    EXPECT_EQ(table[2][0], "2026-12-06T12:34:56.789");
    EXPECT_EQ(table[2][1], last.toStdString());
    std::filesystem::remove(big);
}
