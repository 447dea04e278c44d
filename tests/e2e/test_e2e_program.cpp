#include <QtCore>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

constexpr qint64 RecordBytes = 16392;
constexpr uint32_t AcquisitionBit = 1; // bit 0 of the receiver's control word

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
        Env.insert(QStringLiteral("QUILLEX_SIM_TRACE"), Path(QStringLiteral("trace.txt")));
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

    QString Path(const QString& Name) const { return Dir.filePath(Name); }

    void Start(const QString& Executable)
    {
        Program.setProcessEnvironment(Env);
        Program.start(Executable, {});
        ASSERT_TRUE(Program.waitForStarted(10000));
    }

    QStringList Calls() const
    {
        QFile trace(Path(QStringLiteral("trace.txt")));
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
        ::kill(pid, Signal);
        QDeadlineTimer deadline(2000);
        while (IsPending(pid, Signal) && !deadline.hasExpired())
            QThread::usleep(200);
        ::kill(-pid, Signal);
    }

    static bool IsPending(pid_t Pid, int Signal)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(Pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        const quint64 bit = quint64(1) << (Signal - 1);
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigPnd:") || line.startsWith("ShdPnd:"))
                if (line.mid(7).trimmed().toULongLong(nullptr, 16) & bit)
                    return true;
        return false;
    }

    bool Ended()
    {
        return Program.waitForFinished(30000) && Program.exitStatus() == QProcess::NormalExit &&
               Program.exitCode() == 0;
    }

    QTemporaryDir Dir;
    QProcessEnvironment Env;
    QProcess Program;
};

// The calls after the last block was read: the end as the receiver saw it.
QStringList CallsAfterLastRead(const QStringList& Calls)
{
    qsizetype last = -1;
    for (qsizetype i = 0; i < Calls.size(); ++i)
        if (Calls[i].startsWith(QLatin1String("GetInputData")))
            last = i;
    return Calls.mid(last + 1);
}

// True when the calls end by clearing the acquisition bit and then closing the receiver.
bool EndsWithAcquisitionOffThenClose(const QStringList& Calls)
{
    const QStringList end = CallsAfterLastRead(Calls);
    if (end.size() < 2 || end.last() != QLatin1String("Close"))
        return false;
    const QStringList sio = end[end.size() - 2].split(u' ');
    return sio.size() == 3 && sio[0] == QLatin1String("Sio") &&
           (sio[1].toUInt() & AcquisitionBit) == 0;
}

qint64 FileSize(const QString& Path)
{
    return QFileInfo(Path).size();
}

// Starts the program, waits for the receiver to be up, then asks it to end as a session
// logout would and reads what reached the receiver.
TEST(Program, StartsInOrderAndShutsTheReceiverDownCleanly)
{
    TProgramRun run;
    run.Start(QStringLiteral(QUILLEX_PROGRAM));
    const QString acquisitionOn = QStringLiteral("Sio 1 4");
    ASSERT_TRUE(run.WaitFor([&] { return run.Calls().contains(acquisitionOn); }))
        << run.Program.readAllStandardError().data();
    run.Program.terminate();
    EXPECT_TRUE(run.Ended());
    EXPECT_EQ(run.Calls().join(u','),
              QStringLiteral("GetDLLVersion,Open,FirmwareDownload perseusds16v11.hex,"
                             "FpgaConfig perseusds16v10,SetAttenuator 0,"
                             "SetPreselector 10,Sio 1 4,Sio 0 4,Close"));
    // Nothing was changed, so nothing was saved.
    EXPECT_FALSE(QFile::exists(run.Path(QStringLiteral("Quillex.ini"))));
}

// A signal to the program and its group during a sync-paced recording is one request.
// SIGTERM comes from the system, which waits for no answer: even with a changed setting
// nothing is asked and the settings file stays as it is, yet the receiver is switched off and
// closed, and the recording holds its header and whole frames only.
TEST(Program, SignalsToProgramAndGroupTogetherEndOnceAndCleanly)
{
    TProgramRun run;
    const QByteArray settings = "[Settings]\r\nAvg=3\r\n";
    QFile ini(run.Path(QStringLiteral("Quillex.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write(settings) == settings.size());
    ini.close();
    const QString recording = run.Path(QStringLiteral("run.spk"));
    run.Env.insert(QStringLiteral("QUILLEX_DRIVER_RECORDING"), recording);
    run.Env.insert(QStringLiteral("QUILLEX_DRIVER_SYNC"), QStringLiteral("1"));
    run.Env.insert(QStringLiteral("QUILLEX_DRIVER_CHANGE"), QStringLiteral("1"));
    run.Start(QStringLiteral(QUILLEX_RECORDING_DRIVER));
    ASSERT_TRUE(run.WaitFor([&] { return FileSize(recording) >= 4 * RecordBytes; }))
        << run.Program.readAllStandardError().data();

    run.SignalProgramAndGroup(SIGTERM);
    ASSERT_TRUE(run.Program.waitForFinished(10000)) << "it waits for an answer";
    EXPECT_TRUE(run.Program.exitStatus() == QProcess::NormalExit && run.Program.exitCode() == 0);
    const QStringList calls = run.Calls();
    EXPECT_TRUE(EndsWithAcquisitionOffThenClose(calls))
        << calls.mid(calls.size() - 4).join(u',').toStdString();
    const qint64 size = FileSize(recording);
    EXPECT_EQ(size % RecordBytes, 0) << size;
    QFile file(recording);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(8), QByteArray("Offsets:"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(ini.readAll(), settings);
}

// With a changed setting a first SIGINT shows the save question and waits for the user;
// a later request ends the program without the question, yet after the receiver steps,
// and saves nothing.
TEST(Program, ALaterRequestSkipsTheQuestionButNotTheReceiverSteps)
{
    TProgramRun run;
    const QString recording = run.Path(QStringLiteral("run.spk"));
    run.Env.insert(QStringLiteral("QUILLEX_DRIVER_RECORDING"), recording);
    run.Env.insert(QStringLiteral("QUILLEX_DRIVER_CHANGE"), QStringLiteral("1"));
    run.Start(QStringLiteral(QUILLEX_RECORDING_DRIVER));
    ASSERT_TRUE(run.WaitFor([&] { return FileSize(recording) >= 3 * RecordBytes; }))
        << run.Program.readAllStandardError().data();

    run.SignalProgramAndGroup(SIGINT);
    // The run stops before the question; then the question waits.
    qsizetype reads = -1;
    ASSERT_TRUE(run.WaitFor(
        [&] {
            const qsizetype now = run.Calls().filter(QStringLiteral("GetInputData")).size();
            return std::exchange(reads, now) == now;
        },
        10000));
    EXPECT_FALSE(run.Program.waitForFinished(1500)) << "the question did not wait";
    EXPECT_FALSE(run.Calls().contains(QStringLiteral("Close")));

    run.SignalProgramAndGroup(SIGTERM);
    EXPECT_TRUE(run.Ended()) << run.Program.readAllStandardError().data();
    const QStringList calls = run.Calls();
    EXPECT_TRUE(EndsWithAcquisitionOffThenClose(calls))
        << calls.mid(calls.size() - 4).join(u',').toStdString();
    EXPECT_EQ(FileSize(recording) % RecordBytes, 0);
    EXPECT_FALSE(QFile::exists(run.Path(QStringLiteral("Quillex.ini"))));
}

} // namespace
