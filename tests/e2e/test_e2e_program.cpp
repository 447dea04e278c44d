#include <QtCore>
#include <gtest/gtest.h>

// Starts the program offscreen in an empty folder, waits for the receiver to be up, then
// asks it to end as a session logout would and reads what reached the receiver.
TEST(Program, StartsInOrderAndShutsTheReceiverDownCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile trace(dir.filePath(QStringLiteral("trace.txt")));
    const auto calls = [&] {
        trace.open(QIODevice::ReadOnly);
        const QStringList lines =
            QString::fromLocal8Bit(trace.readAll()).split(u'\n', Qt::SkipEmptyParts);
        trace.close();
        return lines;
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUILLEX_SIM_TRACE"), trace.fileName());
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.start(QStringLiteral(QUILLEX_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    const QString acquisitionOn = QStringLiteral("Sio 1 4");
    QDeadlineTimer deadline(20000);
    while (!calls().contains(acquisitionOn) && !deadline.hasExpired() &&
           program.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_TRUE(calls().contains(acquisitionOn)) << program.readAllStandardError().data();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(calls().join(u','),
              QStringLiteral("GetDLLVersion,Open,FirmwareDownload perseusds16v11.hex,"
                             "FpgaConfig perseusds16v10,SetAttenuator 0,"
                             "SetPreselector 10,Sio 1 4,Sio 0 4,Close"));
    // Nothing was changed, so nothing was saved.
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Quillex.ini"))));
}
