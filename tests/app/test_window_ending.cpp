#include "test_window_support.h"

#include <QTest>

#include "IniFileU.h"
#include "TerminationSignals.h"

#include <csignal>

// SIGTERM, SIGINT and SIGHUP all end without a question, even with a changed setting: the run
// stops, the receiver is switched off and closed, and the settings file stays as it was.
TEST_F(WindowTest, TerminationSignalsEndWithoutQuestions)
{
    WriteIni("[Settings]\nAvg=3\n");
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        Start();
        Form->CBDither->click();
        Form->BtnStartStop->click();
        {
            const TTerminationSignals routed(*Form);
            ASSERT_TRUE(routed.Installed());
            ::raise(signal);
            QTest::qWait(50); // not an event loop: ending asked the application to leave those
        }
        EXPECT_TRUE(Prompts.Questions.isEmpty());
        EXPECT_EQ(Calls().section(u',', -2), "Sio 2 4,Close");
        EXPECT_EQ(ReadIni(), "[Settings]\nAvg=3\n");
        Form.reset();
    }
}

// Ending without questions in the middle of a sync-paced recording: the run stops, the
// file keeps its header and whole frames, the receiver is switched off and closed, and
// nothing is asked or saved even with a changed setting; later closes do nothing more.
TEST_F(WindowTest, EndingWithoutQuestionsStillStopsRecordsAndClosesTheReceiver)
{
    Start();
    const QString file = Dir.filePath(QStringLiteral("ended.spk"));
    Form->CBDither->click(); // a changed setting: a normal close would ask
    Record(file);
    Form->RBSync->setChecked(true);
    int frames = 0;
    Form->OnFrameProcessed = [&] {
        if (++frames == 5)
            QTimer::singleShot(0, Form.get(), [this] { Form->EndWithoutQuestions(); });
    };
    Form->BtnStartStop->click(); // returns when the loop ends
    EXPECT_EQ(frames, 5);
    EXPECT_EQ(Flags(), "- - - sync playback");
    EXPECT_FALSE(Form->Recording.Continuous().IsOpen());
    EXPECT_EQ(QFileInfo(file).size(),
              (1 + frames) * qint64(quillex::FrameRecordSize)); // the header and each frame
    EXPECT_TRUE(ReadAll(file).startsWith("Offsets:"));
    // Acquisition on with dither (1 + 2), then off with dither kept, then the close.
    const QString calls = Calls();
    EXPECT_EQ(calls.section(u',', -2), "Sio 2 4,Close");
    Form->EndWithoutQuestions();
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(Calls(), calls);
    EXPECT_TRUE(Prompts.Questions.isEmpty());
    EXPECT_FALSE(QFile::exists(IniPath()));
}

// A settings file far beyond any real one is read only up to the size limit, with one
// message and one parse, and is never rewritten, whatever the user changes.
TEST_F(WindowTest, OversizedSettingsFileIsReadInPartAndNeverRewritten)
{
    std::string text = "[Settings]\nAvg=7\nFFT=9\n";
    const std::string filler = "; a line of padding that some program kept appending\n";
    while (text.size() < 3 * TIniFile::MaxFileSize)
        text += filler;
    text += "[Form]\nWidth=900\n";
    std::ofstream(IniPath().toStdString(), std::ios::binary) << text;

    const uint64_t parses = TIniFile::ParseCount();
    Start();
    EXPECT_EQ(TIniFile::ParseCount() - parses, 1u);
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_TRUE(Prompts.Messages[0].contains(IniPath()));
    EXPECT_EQ(Form->SEAvg->value(), 7);
    EXPECT_EQ(Form->SEFft->value(), 9);
    EXPECT_NE(Form->width(), 900); // beyond the limit: not read

    Form->SEAvg->setValue(3);
    EXPECT_TRUE(CloseWindow());
    EXPECT_TRUE(Prompts.Questions.isEmpty());
    EXPECT_TRUE(ReadAll(IniPath()) == QByteArray::fromStdString(text));
}
