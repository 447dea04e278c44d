#include "test_window_support.h"

#include <QTest>

// The real question, answered by a hand on the box once it is up (first of all tests: a window
// that ends the program leaves every later dialog's event loop returning at once), returns the
// button pressed, whose texts are Qt's in the locale's language; Escape cancels. The file dialogs'
// filters come from "name|pattern" pairs.
TEST(QtPrompts, QuestionReturnsTheButtonPressedAndFiltersAreQtStyle)
{
    EXPECT_EQ(QtFileFilter("Spectral Data|*.spk|All files|*.*|odd"),
              "Spectral Data (*.spk);;All files (*.*)");
    // Acts on the dialog at every tick until the call that opened it returns; gives up after 5 s.
    const auto answering = [](std::function<void(QWidget*)> Act, auto Call) {
        QTimer poll;
        int ticks = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                if (++ticks < 250)
                    return Act(dialog);
                ADD_FAILURE() << "the dialog stayed open";
                qobject_cast<QDialog*>(dialog)->reject();
            }
        });
        poll.start(20);
        return Call();
    };
    TQtPrompts prompts;
    QStringList shown; // the buttons of the last box
    const auto press = [&](const QString& Button) {
        return answering(
            [&](QWidget* Box) {
                shown.clear();
                for (QPushButton* b : Box->findChildren<QPushButton*>())
                    shown << b->text();
                for (QPushButton* b : Box->findChildren<QPushButton*>())
                    if (b->text() == Button)
                        b->click();
            },
            [&] { return prompts.AskYesNoCancel("Save?"); });
    };
    // Qt's own buttons in the user's language: English under C, German under de_DE.
    for (const auto& [locale, texts] :
         {std::pair{"C", QStringList{"&Yes", "&No", "Cancel"}},
          std::pair{"de_DE", QStringList{"&Ja", "&Nein", "Abbrechen"}}}) {
        EXPECT_EQ(InstallQtTranslations(QLocale(locale)), locale != std::string("C"));
        QStringList all = texts;
        all.sort();
        for (const TPrompts::TAnswer answer :
             {TPrompts::TAnswer::Yes, TPrompts::TAnswer::No, TPrompts::TAnswer::Cancel}) {
            EXPECT_EQ(press(texts[int(answer)]), answer) << locale;
            shown.sort();
            EXPECT_EQ(shown, all) << locale;
        }
    }
    InstallQtTranslations(QLocale::c());
    EXPECT_EQ(answering([](QWidget* Box) { QTest::keyClick(Box, Qt::Key_Escape); },
                        [&] { return prompts.AskYesNoCancel("Save?"); }),
              TPrompts::TAnswer::Cancel);
}

// Settings load sends the attenuator before preselector and acquisition bit. Cancel at
// close stops the program but keeps it open and unsaved; No then closes it, switching
// acquisition off and closing the receiver.
TEST_F(WindowTest, StartupOrderAndTheCloseQuestion)
{
    Start();
    EXPECT_TRUE(Prompts.Messages.isEmpty() && !Form->Terminated);
    EXPECT_EQ(Form->windowTitle(), "Quillex V2.3 - simulated receiver");
    EXPECT_EQ(Form->StatusText(0), "FFT: 2048 Points    Resolution:19.531 kHz");
    EXPECT_EQ(Form->StatusText(1), "Center: 20.00 MHz");
    EXPECT_EQ(Flags(), "- - - sync playback"); // nothing runs until Start
    Form->SESpeed->setValue(50);
    Form->BtnStartStop->click(); // fast scan: Timer1 runs
    ASSERT_EQ(Flags(), "run timer - - -");
    EXPECT_FALSE(CloseWindow()); // the script answers Cancel
    EXPECT_EQ(Prompts.Questions, QStringList{"Some Settings changed, save?"});
    EXPECT_EQ(Flags(), "- - - sync playback");
    Prompts.Answers = {TPrompts::TAnswer::No};
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(Prompts.Questions.size(), 2);
    EXPECT_FALSE(QFile::exists(IniPath()));
    EXPECT_EQ(Calls(), "GetDLLVersion,Open,FirmwareDownload perseusds16v11.hex,FpgaConfig "
                       "perseusds16v10,SetAttenuator 0,SetPreselector 10,Sio 1 4,Sio 0 4,Close");
}

// Each failing step shows its message, stops the bring-up there and ends the program
// without a question or a settings file.
TEST_F(WindowTest, EachStartupFailureShowsItsMessageAndEndsWithoutQueryOrSave)
{
    const QByteArray missing = Dir.filePath("none.so").toLocal8Bit();
    const char* const failures[][4] = {
        // variable, value, messages, last call
        {"QUILLEX_SIM_OPEN_FAIL", "1", "Perseus not found, terminating.", "Open"},
        {"QUILLEX_SIM_FIRMWARE_FAIL", "1", "perseusds16v11.hex not found terminating.",
         "FirmwareDownload perseusds16v11.hex"},
        {"QUILLEX_SIM_FPGA_RESULT", "2", "FPGAConfig: IO-Error, terminating.",
         "FpgaConfig perseusds16v10"},
        {"QUILLEX_SIM_FPGA_RESULT", "7", "FPGAConfig: unknown error, terminating.",
         "FpgaConfig perseusds16v10"},
        {"QUILLEX_RECEIVER_LIBRARY", missing.constData(),
         "Perseus-DLL not found, terminating.|Perseus not found, terminating.", ""}};
    for (const auto& [variable, value, messages, lastCall] : failures) {
        SCOPED_TRACE(messages);
        QFile::remove(TracePath);
        Prompts = {};
        TerminatedWith = 0;
        setenv(variable, value, 1);
        Start();
        unsetenv(variable);
        EXPECT_EQ(Prompts.Messages.join(u'|'), messages);
        EXPECT_TRUE(Form->Terminated && TerminatedWith == 1);
        EXPECT_EQ(Trace().value(Trace().size() - 1), lastCall);
        Form->SESpeed->setValue(3); // a change that would ask
        EXPECT_TRUE(CloseWindow());
        EXPECT_TRUE(Prompts.Questions.isEmpty());
        EXPECT_FALSE(QFile::exists(IniPath()));
    }
}

// The simulator names itself in the title, from the first caption on, and at the status
// bar's end, in full; the receiver's own library (played by the simulator without its
// mark) leaves both as they were, in debug mode too.
TEST_F(WindowTest, SimulatedReceiverIsNamedInTitleAndStatusBar)
{
    QString captionAtFailure;
    Prompts.OnMessage = [&] { captionAtFailure = Form->windowTitle(); };
    setenv("QUILLEX_SIM_OPEN_FAIL", "1", 1);
    Start();
    unsetenv("QUILLEX_SIM_OPEN_FAIL");
    EXPECT_EQ(captionAtFailure, "DllVersion: 1.5 - waiting for Perseus ... - simulated receiver");

    StartShown();
    const QLabel* notice = Form->LblSimulatedReceiver;
    EXPECT_TRUE(notice->isVisible() && notice->text() == "simulated receiver");
    EXPECT_GE(notice->contentsRect().width(),
              notice->fontMetrics().horizontalAdvance(notice->text()));
    const QRect onBar(notice->mapTo(Form->StatusBar, QPoint(0, 0)), notice->size());
    EXPECT_TRUE(Form->StatusBar->rect().contains(onBar)) << onBar.x() << " " << onBar.width();
    EXPECT_TRUE(notice->toolTip().contains(QStringLiteral("/libperseususb.so")));

    QFile::remove(TracePath);

    // Controls wait for the start-up tick. Debug mode skips exactly the receiver bring-up,
    // the attenuator and the close; frames come from the synthetic signal. A longer first
    // argument starts normally.
    Form = std::make_unique<TForm1>(Prompts, Clock, QStringList{"  dEbUg "});
    Form->BtnStartStop->click(); // too early: ignored
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    RunEvents(300); // the 100 ms start-up tick
    EXPECT_FALSE(Form->InitTimer->isActive());
    EXPECT_TRUE(Form->BtnStartStop->isEnabled());
    EXPECT_TRUE(Form->DebugMode);
    EXPECT_EQ(Form->windowTitle(), "Quillex V2.3 - Debug-Mode - simulated receiver");
    Form->RGAtt->setItemIndex(2);
    Form->CBDither->setChecked(true);
    Form->CBPreamp->setChecked(true);
    Form->Timer1Timer();
    EXPECT_NE(Form->SampleBlock[0], 0);
    Prompts.Answers = {TPrompts::TAnswer::No};
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(Calls(), "GetDLLVersion,SetPreselector 10,Sio 1 4,Sio 3 4,Sio 7 4");
    Start({"DEBUGGER"});
    EXPECT_FALSE(Form->DebugMode);
    EXPECT_TRUE(Trace().contains("Open"));

    setenv("QUILLEX_RECEIVER_LIBRARY", QUILLEX_UNMARKED, 1);
    StartShown({"debug"});
    EXPECT_EQ(Form->windowTitle(), "Quillex V2.3 - Debug-Mode");
    EXPECT_FALSE(Form->LblSimulatedReceiver->isVisible());
}

// The sync loop runs until Stop with the pacing locked and shows the rate; a close during
// it ends the loop before the question. Moving the window counts as a change; No discards it.
TEST_F(WindowTest, SyncLoopEndsOnStopAndOnCloseBeforeTheQuestion)
{
    Start();
    Form->RBSync->setChecked(true);
    EXPECT_FALSE(Form->SESpeed->isEnabled());
    int frames = 0;
    bool pacingLocked = true;
    std::function<void()> atFrame30 = [this] { Form->BtnStartStop->click(); };
    Form->OnFrameProcessed = [&] {
        QThread::msleep(4); // frames of at least 4 ms
        pacingLocked = pacingLocked && !Form->RBFast->isEnabled() && !Form->RBSlow->isEnabled() &&
                       !Form->BtnPlayback->isEnabled();
        if (++frames == 30)
            QTimer::singleShot(0, Form.get(), atFrame30);
    };
    Form->BtnStartStop->click(); // returns when the loop has ended
    EXPECT_TRUE(frames >= 30 && frames < 1000 && frames == Reads()) << frames;
    EXPECT_TRUE(pacingLocked && Form->RBFast->isEnabled());
    EXPECT_EQ(Flags(), "- - - sync playback");
    // The rate from the frame time smoothed over 32 frames (from none), plus a millisecond.
    EXPECT_GE(Form->AvgFrameTime, 4 * (1 - std::pow(31.0 / 32.0, frames)));
    EXPECT_EQ(Form->StatusText(2),
              QStringLiteral("%1 FramesPerSec").arg(std::lround(1000 / (Form->AvgFrameTime + 1))));

    Form->move(Form->x() + 10, Form->y());
    frames = 0;
    atFrame30 = [this] { Form->close(); };
    bool runningAtQuestion = true;
    Prompts.OnQuestion = [&] { runningAtQuestion = Form->BtnStartStop->isChecked(); };
    Prompts.Answers = {TPrompts::TAnswer::No};
    Form->BtnStartStop->click();
    EXPECT_TRUE(frames >= 30 && frames < 1000) << frames;
    EXPECT_FALSE(runningAtQuestion);
    EXPECT_EQ(Prompts.Questions.size(), 1);
    EXPECT_FALSE(QFile::exists(IniPath()));
    EXPECT_EQ(Trace().last(), "Close");
}
