#include "test_export_support.h"

#include <csignal>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

#include "ExportRun.h"
#include "OutputFile.h"

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
    QDir(Dir.path()).mkdir("in"); // a recording whose name the SigMF data file would take
    WriteBytes(Path("in/rec.sigmf-data"), Good);
    const QString good = Path("good.spk");
    const QStringList outputs{"--png", Path("out.png"), "--csv", Path("out.csv")};
    WriteBytes(Path("old.spk"), "kept"); // an earlier output, and a link to it
    ASSERT_TRUE(QFile::link(Path("old.spk"), Path("link.spk")));
    const QString around = Dir.path() + "/in/../"; // the folder, spelt another way

    const std::vector<std::tuple<QStringList, int, const char*>> cases = {
        {QStringList{Path("missing.spk")} + outputs, 3, "missing.spk: No such file"},
        {QStringList{Path("folder.spk")} + outputs, 3, "folder.spk"},
        {QStringList{Path("short.spk")} + outputs, 4, "shorter than one record"},
        {QStringList{Path("corrupt.spk")} + outputs, 4, "frequency offset"},
        {QStringList{Path("header.spk")} + outputs, 4, "no frames"},
        {QStringList{good, "--average=0"} + outputs, 2, "--average 0"},
        {QStringList{good, "--window", "flat"} + outputs, 2, "--window"},
        {QStringList{good, "--span-mhz", "15"} + outputs, 2, "--span-mhz"},
        {QStringList{good, "--span-mhz", "10", "--centre-mhz", "36"} + outputs, 2, "(5 .. 35)"},
        {QStringList{good, "--first", "0"} + outputs, 2, "--first 0"}, // record 0: the header
        {QStringList{good, "--last", "13"} + outputs, 2, "1 .. 12"},
        {QStringList{good, "--first", "9", "--last", "8"} + outputs, 2, "--first"},
        {QStringList{good, "--fold-mode", "median"} + outputs, 2, "--fold-mode"},
        {QStringList{good, "--min-dbm", "-50", "--max-dbm", "-60"} + outputs, 2, "--min-dbm"},
        {QStringList{good, "--min-dbm", "abc"} + outputs, 2, "\"abc\""},
        {QStringList{good, "--frobnicate"} + outputs, 2, "--frobnicate"},
        {QStringList{good, "--png", Path("a.png")} + outputs, 2, "--png is given twice"},
        {QStringList{good, "--fold=2", "--fold", "2"} + outputs, 2, "--fold is given twice"},
        {QStringList{good, "--centre-mhz", "9", "--center-mhz=9"} + outputs, 2, "--centre-mhz"},
        {QStringList{good, "-q", "--quiet"} + outputs, 2, "--quiet is given twice"},
        {QStringList{good, "--png"}, 2, "--png needs a value"},
        {QStringList{good}, 2, "nothing to do"},
        {outputs, 2, "no recording"},
        {QStringList{good, "--csv", Path("no/such/folder/out.csv")}, 5, "out.csv"},
        {QStringList{good, "--csv", good}, 2, "the recording itself"},
        {QStringList{good, "--png", Dir.path()}, 5, "Is a directory"},
        {QStringList{good, "--sigmf", Path("a"), "--csv", Path("a.sigmf-data")}, 2,
         "--sigmf writes"},
        {QStringList{good, "--sigmf", Path("a"), "--png", Path("a.sigmf-meta")}, 2,
         "--sigmf writes"},
        {QStringList{good, "--csv", Path("old.spk"), "--png", Path("link.spk")}, 2,
         "--png and --csv name the same file"},
        {QStringList{good, "--csv", Path("a.csv"), "--peaks", around + "a.csv"}, 2,
         "--csv and --peaks name the same file"},
        {QStringList{good, "--sigmf", Path("a"), "--csv", around + "a.sigmf-data"}, 2,
         "--sigmf writes"},
        {QStringList{good, "--sigmf", ""}, 2, "--sigmf needs a file name"},
        {QStringList{good, "--sigmf", Dir.path() + "/"}, 2, "--sigmf needs a file name"},
        {QStringList{Path("in/rec.sigmf-data"), "--sigmf", Path("in/rec")}, 2, "recording itself"},
    };
    for (const auto& [args, code, text] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        ExpectFailure(RunExport(args), code, text);
        EXPECT_EQ(Outputs(), QStringList());
    }
    EXPECT_EQ(QFileInfo(good).size(), qint64(Good.size())); // the recording is untouched
    EXPECT_EQ(FileBytes(Path("old.spk")), "kept");

    // A disk that fills up midway: the table or the SigMF samples cannot be completed; a short
    // SigMF metadata fails only when it is flushed, after the samples are complete. Nothing
    // is left behind.
    for (const auto& [option, name, file, limit] :
         {std::tuple{"--csv", "out.csv", "out.csv", 20000},
          {"--sigmf", "out", "out.sigmf-data", 100000}}) {
        const auto capped = [limit = limit] { // a lambda may not capture a structured binding
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit bytes{rlim_t(limit), rlim_t(limit)};
            setrlimit(RLIMIT_FSIZE, &bytes);
        };
        ExpectFailure(RunExport({good, option, Path(name)}, capped), 5, file);
        EXPECT_EQ(Outputs(), QStringList());
    }
    ASSERT_TRUE(QFile::link("/dev/full", Path("full.sigmf-meta")));
    ExpectFailure(RunExport({good, "--sigmf", Path("full"), "--last", "2"}), 5, "full.sigmf-meta");
    EXPECT_EQ(Outputs(), QStringList{"full.sigmf-meta"});
}

// An export interrupted by the user or the system says so, ends with 130 and leaves no
// output, not even a temporary one.
TEST_F(ExportProgramTest, InterruptsLeaveNoOutput)
{
    // A recording of a million frames, sparse: its holes read as silence, long enough.
    const std::string big = Path("big.spk").toStdString();
    std::filesystem::copy_file(Path("good.spk").toStdString(), big);
    std::filesystem::resize_file(big, 1000000 * int64_t{quillex::FrameRecordSize});
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.start(QStringLiteral(QUILLEX_EXPORT_PATH),
                      {Path("big.spk"), "--csv", Path("o.csv"), "--png", Path("o.png"), "--fold",
                       "1000", "--fft-exponent", "12"});
        ASSERT_TRUE(process.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        while (Outputs().size() < 2 && waited.elapsed() < 60000)
            QThread::msleep(5);
        ASSERT_EQ(Outputs().size(), 2) << Outputs().join(' ').toStdString();
        // A file is made a moment before the program notes it for removal: signalled within
        // that moment, it would be left behind.
        QThread::msleep(100);
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 130);
        EXPECT_EQ(process.readAllStandardError(),
                  "quillex-export: interrupted; no output written\n");
        EXPECT_EQ(Outputs(), QStringList());
    }
}

// A partial last record is left out with a warning; a file without header starts at
// frame 0; --first and --last pick frames; --help lists every option and exit code.
TEST_F(ExportProgramTest, PartialRecordsHeaderlessFilesAndFrameRange)
{
    WriteBytes(Path("partial.spk"), Good + std::string(5000, '\1'));
    // Written under a temporary name, the table gets the usual permissions in the end.
    TRun run = RunOk({Path("partial.spk"), "--csv", Path("p.csv")}, [] { ::umask(027); });
    EXPECT_EQ(std::filesystem::status(Path("p.csv").toStdString()).permissions(),
              std::filesystem::perms(0640));
    EXPECT_TRUE(run.Err.contains("warning") && run.Err.contains("5000 bytes"))
        << run.Err.toStdString();
    // The header's offset is in the column frequencies: 1.25 MHz + bin * 40 / 2048 MHz
    // (exponent 11 by default).
    auto table = ReadCsv(Path("p.csv"));
    ASSERT_EQ(table.size(), 1u + 12u);
    EXPECT_EQ(table.back()[2], "12");
    EXPECT_EQ(Cells(table[0], 3, 5), (TCells{"1.25", "1.26953125"}));

    WriteBytes(Path("bare.spk"), Good.substr(16392));
    run =
        RunOk({Path("bare.spk"), "--csv", Path("b.csv"), "--first", "3", "--last", "5", "--quiet"});
    EXPECT_EQ(run.Err, "");
    table = ReadCsv(Path("b.csv"));
    ASSERT_EQ(table.size(), 1u + 3u);
    // No stamp in the recording: no time.
    EXPECT_EQ(Cells(table[0], 1, 4), (TCells{"stamped", "frame", "0"}));
    EXPECT_EQ(Cells(table[1], 0, 3), (TCells{"", "0", "3"}));
    EXPECT_EQ(table[3][2], "5");

    const QString text = RunOk({"--help"}).Out;
    for (const QString& option :
         QString("--png --csv --fft-exponent --window --average --span-mhz --centre-mhz --first "
                 "--last --fold --fold-mode --min-dbm --max-dbm --quiet --sigmf --peaks "
                 "--peak-count --peak-min-dbm --limits --events --hold-off-s")
                 .split(' ') +
             QStringList{"  5  ", "  6  "})
        EXPECT_TRUE(text.contains(option)) << option.toStdString();
}

// Every row of the table has a time: a stamped frame its stamp, the others by frame index
// between the stamps around them, or at the pace of the nearest two before the first and
// after the last. Stamps lie in different batches of the transforms (a thousand frames),
// at a different pace between each pair. A folded row has the time of its first frame and
// is marked stamped only when that frame carries the stamp.
TEST_F(ExportProgramTest, CsvGivesEveryRowATime)
{
    // Frame and milliseconds after 10:00:30.000 of the stamped frames; the pace is 20 ms a
    // frame up to frame 600, then 10 ms, then 40 ms.
    const std::vector<std::pair<int64_t, int64_t>> stamps = {
        {5, 0}, {600, 11900}, {1501, 20910}, {2050, 42870}};
    const double ten = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 30);
    const auto stampOf = [&](int64_t f) {
        for (const auto& [frame, ms] : stamps)
            if (frame == f)
                return ten + double(ms) / 86400000.0;
        return 0.0;
    };
    const auto expectedMs = [&](int64_t f) {
        size_t i = 1;
        while (i + 1 < stamps.size() && stamps[i].first < f)
            ++i;
        const auto [a, ta] = stamps[i - 1];
        const auto [b, tb] = stamps[i];
        return ta + (f - a) * (tb - ta) / (b - a); // whole milliseconds per frame here
    };
    const auto text = [](int64_t Ms) {
        return "2026-12-06T" +
               QTime(10, 0, 30).addMSecs(int(Ms)).toString("hh:mm:ss.zzz").toStdString();
    };
    const int64_t frames = 2100;
    WriteBytes(Path("times.spk"), MakeRecordingBytes({.N = 256,
                                                      .Frames = frames,
                                                      .Stamp = stampOf,
                                                      .Header = "Offsets:       0.000     0.0"}));
    const QStringList common{Path("times.spk"), "--fft-exponent", "8", "--span-mhz", "5"};
    RunOk(common + QStringList{"--csv", Path("all.csv")});
    RunOk(common +
          QStringList{"--csv", Path("fold.csv"), "--first", "3", "--last", "2099", "--fold", "7"});
    // Rows of Step frames from First on: the time of each row's first frame, and stamped when
    // that frame carries its stamp.
    int marked = 0;
    for (const auto& [name, first, step, rows] :
         {std::tuple{"all.csv", 1, 1, 2100}, {"fold.csv", 3, 7, 300}}) { // 2097 frames, 7 a row
        const auto table = ReadCsv(Path(name));
        ASSERT_EQ(table.size(), size_t(1 + rows));
        for (int r = 1; r <= rows; ++r) {
            const int64_t f = first + step * int64_t(r - 1);
            ASSERT_EQ(Cells(table[size_t(r)], 0, 3),
                      (TCells{text(expectedMs(f)), stampOf(f) != 0 ? "1" : "0", std::to_string(f)}))
                << name << " row " << r;
            marked += step == 7 && table[size_t(r)][1] == "1";
        }
    }
    EXPECT_EQ(marked, 1); // frame 1501 begins row 214; the other stamps lie inside rows
}

// A file without a header whose stamps are not all 0 or dates from 1990 to 2100 is
// exported with one warning naming the first such record; with a header or with --quiet
// there is none.
TEST_F(ExportProgramTest, StrangeStampsWithoutHeaderGetOneWarning)
{
    // Record 1 holds a sound date; 2, 3 and 4 do not (just before 1990, negative, 2101).
    const std::vector<double> stamps = {0.0,
                                        quillex::EncodeDateTime(2026, 12, 6, 1, 2, 3),
                                        quillex::EncodeDateTime(1989, 12, 31, 23, 59, 59, 999),
                                        -1.0,
                                        quillex::EncodeDateTime(2101, 1, 1, 0, 0, 0),
                                        0.0};
    for (const bool header : {false, true})
        WriteBytes(Path(header ? "headed.spk" : "bare.spk"),
                   MakeRecordingBytes(
                       {.N = 256,
                        .Frames = 6,
                        .Stamp = [&](int64_t f) { return stamps[size_t(f - (header ? 1 : 0))]; },
                        .Header = header ? "Offsets:       0.000     0.0" : ""}));
    const QStringList out{"--csv", Path("out.csv")};
    // Also when that record is the first exported.
    for (const QStringList& first : {QStringList{}, QStringList{"--first", "2"}}) {
        const TRun run = RunOk(QStringList{Path("bare.spk")} + first + out);
        EXPECT_EQ(run.Err.count('\n'), 1) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains("warning") && run.Err.contains("record 2 "))
            << run.Err.toStdString();
    }
    EXPECT_EQ(RunOk(QStringList{Path("headed.spk")} + out).Err, "");
    EXPECT_EQ(RunExport(QStringList{Path("bare.spk"), "--quiet"} + out).Err, "");
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
    RunOk({Path("good.spk"), "--csv", Path("pipe"), "--last", "2"});
    reader.join();
    EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), 3);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

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
    const QString last = QString::number(records - 1);
    RunOk({Path("big.spk"), "--csv", Path("far.csv"), "--first", QString::number(records - 2),
           "--last", last});
    const auto table = ReadCsv(Path("far.csv"));
    ASSERT_EQ(table.size(), 3u);
    // A hole of zeros: no stamp, and -180 dBm everywhere; with the recording's only stamp
    // on the last frame, no other frame has a time.
    EXPECT_EQ(Cells(table[1], 0, 2), (TCells{"", "0"}));
    EXPECT_NEAR(std::stof(table[1][6]), -180.0f, 0.001f);
    EXPECT_EQ(Cells(table[2], 0, 3), (TCells{"2026-12-06T12:34:56.789", "1", last.toStdString()}));
}

// An output's stream holds a megabyte before it writes, and what it holds reaches the file
// whole; outputs are named only together, after every one of them is written, so when one
// fails at its last flush or its rename, none is left, neither named nor temporary.
TEST_F(ExportProgramTest, OutputsAreBufferedAndNamedOnlyWhenAllAreComplete)
{
    {
        quillex::TOutputFile out(Path("big.bin").toStdString());
        const std::string chunk(1000, 'x');
        for (int i = 0; i < 900; ++i)
            ASSERT_EQ(std::fwrite(chunk.data(), 1, chunk.size(), out.Stream()), chunk.size());
        // 900 kB written, nothing of it on disk yet.
        EXPECT_EQ(QFileInfo(QString::fromStdString(out.TemporaryName())).size(), 0);
        for (int i = 0; i < 600; ++i)
            std::fwrite(chunk.data(), 1, chunk.size(), out.Stream());
        out.Commit();
    }
    EXPECT_EQ(QFileInfo(Path("big.bin")).size(), 1500000);
    QFile::remove(Path("big.bin"));

    // The events file is a device that is full: its header fails only when flushed, after
    // the level table and the peak table are complete. The table of an earlier run is kept.
    WriteBytes(Path("limits.csv"), "MHz,upper_dBm,lower_dBm\n0,-200,\n40,-200,\n");
    WriteBytes(Path("out.csv"), "an earlier table\n");
    ASSERT_TRUE(QFile::link("/dev/full", Path("full.csv")));
    ExpectFailure(RunExport({Path("good.spk"), "--csv", Path("out.csv"), "--peaks",
                             Path("peaks.csv"), "--limits", Path("limits.csv"), "--events",
                             Path("full.csv"), "--hold-off-s", "0", "--fft-exponent", "8"}),
                  5, "full.csv: No space left");
    EXPECT_EQ(Outputs(), (QStringList{"full.csv", "limits.csv", "out.csv"}));
    EXPECT_EQ(FileBytes(Path("out.csv")), "an earlier table\n");
    QFile::remove(Path("full.csv"));
    QFile::remove(Path("out.csv"));

    // The image's name turns into a folder while the export runs: its rename fails after
    // the tables' and the SigMF files' are done, and those are taken back.
    const auto options = quillex::ParseExportArguments(
        {Path("good.spk").toStdString(), "--csv", Path("out.csv").toStdString(), "--png",
         Path("out.png").toStdString(), "--sigmf", Path("raw").toStdString(), "--peaks",
         Path("peaks.csv").toStdString(), "--fft-exponent", "8", "--quiet"});
    std::ostringstream err;
    const int code = quillex::RunExport(options, err, false,
                                        [&] { ASSERT_TRUE(QDir(Dir.path()).mkdir("out.png")); });
    EXPECT_EQ(code, 5);
    EXPECT_NE(err.str().find("out.png: Is a directory"), std::string::npos) << err.str();
    EXPECT_EQ(Outputs(), QStringList{"limits.csv"});
    ASSERT_TRUE(QDir(Dir.path()).rmdir("out.png"));

    // The same export otherwise names all of them.
    EXPECT_EQ(quillex::RunExport(options, err, false), 0) << err.str();
    EXPECT_EQ(Outputs(), (QStringList{"limits.csv", "out.csv", "out.png", "peaks.csv",
                                      "raw.sigmf-data", "raw.sigmf-meta"}));
}
