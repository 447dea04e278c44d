#include <QtCore>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

constexpr qint64 RecordBytes = 16392;

// One run of a program in an empty folder, offscreen, in a process group of its own (as
// a program started from a terminal or by a service manager is), with the simulated
// receiver writing its call trace.
class TProgramRun
{
public:
    TProgramRun()
    {
        EXPECT_TRUE(Dir.isValid());
        Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        Env.insert(QStringLiteral("QUILLEX_SIM_TRACE"), Path("trace.txt"));
        Program.setWorkingDirectory(Dir.path());
        Program.setChildProcessModifier([] { ::setpgid(0, 0); });
    }
    ~TProgramRun()
    {
        if (Program.state() != QProcess::NotRunning) {
            Program.kill();
            Program.waitForFinished(5000);
        }
    }

    QString Path(const char* Name) const { return Dir.filePath(QLatin1String(Name)); }

    void Start(const QString& Executable)
    {
        Program.setProcessEnvironment(Env);
        Program.start(Executable, {});
        ASSERT_TRUE(Program.waitForStarted(10000));
    }

    // The recording driver with a changed setting, recording (in sync pacing when asked) until
    // the file holds Records records.
    void StartRecording(bool Sync, qint64 Records)
    {
        Env.insert(QStringLiteral("QUILLEX_DRIVER_RECORDING"), Path("run.spk"));
        Env.insert(QStringLiteral("QUILLEX_DRIVER_SYNC"), Sync ? "1" : "0");
        Start(QStringLiteral(QUILLEX_RECORDING_DRIVER));
        ASSERT_TRUE(WaitFor([&] { return RecordingSize() >= Records * RecordBytes; }))
            << Program.readAllStandardError().data();
    }
    qint64 RecordingSize() const { return QFileInfo(Path("run.spk")).size(); }

    QStringList Calls() const
    {
        QFile trace(Path("trace.txt"));
        if (!trace.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(trace.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    // Polls until Done holds or the program ends; false after the time limit.
    bool WaitFor(const std::function<bool()>& Done, int Ms = 30000)
    {
        QDeadlineTimer deadline(Ms);
        while (!Done() && !deadline.hasExpired() && Program.state() == QProcess::Running)
            QThread::msleep(20);
        return Done();
    }

    // What a pipeline's Ctrl+C, a time limit or a service manager do: the same signal to
    // the program and to its process group, a moment apart. The second is sent once the
    // first has been delivered, so that the system cannot merge the two while pending.
    void SignalProgramAndGroup(int Signal) const
    {
        const pid_t pid = static_cast<pid_t>(Program.processId());
        const auto pending = [&] {
            QFile status(QStringLiteral("/proc/%1/status").arg(pid));
            if (!status.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray& line : status.readAll().split('\n'))
                if ((line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) &&
                    (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (Signal - 1) & 1))
                    return true;
            return false;
        };
        ::kill(pid, Signal);
        QDeadlineTimer deadline(2000);
        while (pending() && !deadline.hasExpired())
            QThread::usleep(200);
        ::kill(-pid, Signal);
    }

    // The program ended by itself with status 0, the receiver's last calls after the last block
    // read cleared the acquisition bit and then closed it, and the recording holds whole records.
    void ExpectCleanEnd()
    {
        ASSERT_TRUE(Program.waitForFinished(30000)) << "it waits for an answer";
        EXPECT_TRUE(Program.exitStatus() == QProcess::NormalExit && Program.exitCode() == 0)
            << Program.readAllStandardError().data();
        // The control word's bit 0 is the acquisition bit: an even word has it clear.
        const QString calls = Calls().join(u'\n');
        const QString end = calls.mid(calls.lastIndexOf(QLatin1String("GetInputData")));
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("\nSio \\d*[02468] 4\nClose$")).match(end).hasMatch())
            << end.right(60).toStdString();
        EXPECT_EQ(RecordingSize() % RecordBytes, 0);
    }

    QTemporaryDir Dir;
    QProcessEnvironment Env;
    QProcess Program;
};

// Starts the program, waits for the receiver to be up, then asks it to end as a session
// logout would and reads what reached the receiver.
TEST(Program, StartsInOrderAndShutsTheReceiverDownCleanly)
{
    TProgramRun run;
    run.Start(QStringLiteral(QUILLEX_PROGRAM));
    ASSERT_TRUE(run.WaitFor([&] { return run.Calls().contains(QStringLiteral("Sio 1 4")); }))
        << run.Program.readAllStandardError().data();
    run.Program.terminate();
    run.ExpectCleanEnd();
    EXPECT_EQ(run.Calls().join(u','),
              QStringLiteral("GetDLLVersion,Open,FirmwareDownload perseusds16v11.hex,"
                             "FpgaConfig perseusds16v10,SetAttenuator 0,"
                             "SetPreselector 10,Sio 1 4,Sio 0 4,Close"));
    // Nothing was changed, so nothing was saved.
    EXPECT_FALSE(QFile::exists(run.Path("Quillex.ini")));
}

// A signal to the program and its group during a sync-paced recording ends it once and
// cleanly, SIGINT and SIGHUP as SIGTERM: whoever sends them (a service manager, a terminal)
// waits for no answer, so even with a changed setting nothing is asked and the settings file
// stays as it is, yet the receiver is switched off and closed, and the recording holds its
// header and whole frames only.
TEST(Program, SignalsToProgramAndGroupTogetherEndOnceAndCleanly)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TProgramRun run;
        const QByteArray settings = "[Settings]\r\nAvg=3\r\n";
        QFile ini(run.Path("Quillex.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write(settings) == settings.size());
        ini.close();
        run.StartRecording(true, 4);
        run.SignalProgramAndGroup(signal);
        run.ExpectCleanEnd();
        QFile file(run.Path("run.spk"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly) && ini.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.read(8), QByteArray("Offsets:"));
        EXPECT_EQ(ini.readAll(), settings);
    }
}

} // namespace
