#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

QStringList ReadTrace(const QString& Path)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

// Starts the program offscreen in an empty folder, waits for the receiver to be up, then
// asks it to end as a session logout would and reads what reached the receiver.
TEST(Program, StartsInOrderAndShutsTheReceiverDownCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUILLEX_SIM_TRACE"), trace);
    for (const char* name : {"QUILLEX_RECEIVER_LIBRARY", "QUILLEX_SIM_OPEN_FAIL",
                             "QUILLEX_SIM_FIRMWARE_FAIL", "QUILLEX_SIM_FPGA_RESULT"})
        env.remove(QString::fromLatin1(name));

    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.start(QStringLiteral(QUILLEX_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    const QString acquisitionOn = QStringLiteral("Sio 1 4");
    QDeadlineTimer deadline(20000);
    while (!ReadTrace(trace).contains(acquisitionOn) && !deadline.hasExpired() &&
           program.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_TRUE(ReadTrace(trace).contains(acquisitionOn)) << program.readAllStandardError().data();

    program.terminate();
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(ReadTrace(trace),
              (QStringList{QStringLiteral("GetDLLVersion"), QStringLiteral("Open"),
                           QStringLiteral("FirmwareDownload perseusds16v11.hex"),
                           QStringLiteral("FpgaConfig perseusds16v10"),
                           QStringLiteral("SetAttenuator 0"), QStringLiteral("SetPreselector 10"),
                           acquisitionOn, QStringLiteral("Sio 0 4"), QStringLiteral("Close")}));
    // Nothing was changed, so nothing was saved.
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Quillex.ini"))));
}
