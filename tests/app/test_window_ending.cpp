#include "test_window_support.h"

#include "IniFileU.h"
#include "TerminationRequests.h"
#include "TerminationSignals.h"

#include <csignal>

// Signals within the window of a request's first signal are that request; the first one
// later starts the next, from which the window is measured again.
TEST(TerminationRequests, SignalsCloseTogetherCountOnce)
{
    const int64_t window = TTerminationRequests::SameRequestNs, first = 1'000'000'000; // 1 s
    TTerminationRequests requests;
    const std::tuple<int64_t, int, const char*> arrivals[] = {
        {first, 1, "the first signal"},
        {first + 1, 0, "its twin to the process group"},
        {first + window - 1, 0, "still within the window"},
        {first + window, 2, "the window has passed"},
        {first + window + window / 2, 0, "within the second request's window"},
        {first + 3 * window, 3, "a third request"},
    };
    for (const auto& [ns, expected, what] : arrivals)
        EXPECT_EQ(requests.Arrived(ns), expected) << what;
    EXPECT_EQ(requests.Count(), 3);
}

// A first SIGINT closes the window the normal way, asking about changed settings; a SIGHUP
// within half a second of it is the same request; a SIGINT later than that ends without the
// question, yet stops the run and switches the receiver off and closes it.
TEST_F(WindowTest, TerminationSignalsCloseOnceThenEndWithoutQuestions)
{
    Start();
    Form->CBDither->click(); // a changed setting: a normal close asks
    Form->BtnStartStop->click();
    const TTerminationSignals routed(*Form);
    ASSERT_TRUE(routed.Installed());
    QElapsedTimer first;
    first.start();
    const auto deliver = [](int Signal) {
        ::raise(Signal);
        RunEvents(50);
    };
    deliver(SIGINT); // the question is cancelled: the window stays, the run stopped
    EXPECT_EQ(Prompts.Questions, QStringList{"Some Settings changed, save?"});
    EXPECT_EQ(Flags(), "- - - sync playback");
    deliver(SIGHUP);
    EXPECT_EQ(Prompts.Questions.size(), 1);
    EXPECT_FALSE(Trace().contains("Close"));
    // Well past the window of the first request, yet less than half a second past a whole second
    // after it: time taken modulo a second would not tell the two apart.
    QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, 1200 - first.elapsed())));
    deliver(SIGINT);
    EXPECT_EQ(Prompts.Questions.size(), 1);
    EXPECT_EQ(Calls().section(u',', -2), "Sio 2 4,Close");
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
    EXPECT_FALSE(Form->SpkFile.Writer.IsOpen());
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
