#include "test_window_support.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

namespace {

const QStringList BringUp = {QStringLiteral("GetDLLVersion"), QStringLiteral("Open"),
                             QStringLiteral("FirmwareDownload perseusds16v11.hex"),
                             QStringLiteral("FpgaConfig perseusds16v10")};

} // namespace

TEST_F(WindowTest, StartupBringsTheReceiverUpInOrderAndShowsTheTitle)
{
    Start();
    EXPECT_TRUE(Prompts.Messages.isEmpty());
    EXPECT_FALSE(Form->Terminated);
    // Settings load sends the attenuator before preselector and acquisition bit.
    const QStringList expected =
        BringUp + QStringList{QStringLiteral("SetAttenuator 0"),
                              QStringLiteral("SetPreselector 10"), QStringLiteral("Sio 1 4")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Quillex V2.3"));
    EXPECT_EQ(Form->StatusText(0), QStringLiteral("FFT: 2048 Points    Resolution:19.531 kHz"));
    EXPECT_EQ(Form->StatusText(1), QStringLiteral("Center: 20.00 MHz"));
    EXPECT_FALSE(Form->GBOffsets->isVisibleTo(Form.get()));
    EXPECT_FALSE(Form->BtnLoadFile->isEnabled());
    EXPECT_EQ(Form->FftInput->Count, 4096);
    EXPECT_EQ(Form->WaterfallLine.size(), 2048u);
    EXPECT_FALSE(Form->BtnStartStop->isChecked()); // nothing runs until Start
}

struct StartupFailure
{
    const char* Name;
    const char* Variable;
    const char* Value;
    const char* Message;
    const char* LastCall;
};

class WindowStartupFailure : public WindowTest, public ::testing::WithParamInterface<StartupFailure>
{
};

TEST_P(WindowStartupFailure, ShowsItsMessageAndEndsWithoutQueryOrSave)
{
    const StartupFailure& f = GetParam();
    setenv(f.Variable, f.Value, 1);
    Start();
    EXPECT_EQ(Prompts.Messages, QStringList{QString::fromUtf8(f.Message)});
    EXPECT_TRUE(Form->Terminated);
    EXPECT_EQ(TerminatedWith, 1);
    const QStringList trace = Trace();
    ASSERT_FALSE(trace.isEmpty());
    EXPECT_EQ(trace.last(), QString::fromUtf8(f.LastCall)); // stops at the first failure
    Form->SESpeed->setValue(3);                             // a change that would ask
    EXPECT_TRUE(CloseWindow());
    EXPECT_TRUE(Prompts.Questions.isEmpty());
    EXPECT_FALSE(QFile::exists(IniPath()));
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, WindowStartupFailure,
    ::testing::Values(StartupFailure{"Open", "QUILLEX_SIM_OPEN_FAIL", "1",
                                     "Perseus not found, terminating.", "Open"},
                      StartupFailure{"Firmware", "QUILLEX_SIM_FIRMWARE_FAIL", "1",
                                     "perseusds16v11.hex not found terminating.",
                                     "FirmwareDownload perseusds16v11.hex"},
                      StartupFailure{"FpgaIoError", "QUILLEX_SIM_FPGA_RESULT", "2",
                                     "FPGAConfig: IO-Error, terminating.",
                                     "FpgaConfig perseusds16v10"},
                      StartupFailure{"FpgaUnknown", "QUILLEX_SIM_FPGA_RESULT", "7",
                                     "FPGAConfig: unknown error, terminating.",
                                     "FpgaConfig perseusds16v10"}),
    [](const ::testing::TestParamInfo<StartupFailure>& Info) {
        return std::string(Info.param.Name);
    });

TEST_F(WindowTest, MissingLibraryShowsBothMessages)
{
    setenv("QUILLEX_RECEIVER_LIBRARY", Dir.filePath(QStringLiteral("none.so")).toLocal8Bit(), 1);
    Start();
    EXPECT_EQ(Prompts.Messages, (QStringList{QStringLiteral("Perseus-DLL not found, terminating."),
                                             QStringLiteral("Perseus not found, terminating.")}));
    EXPECT_EQ(TerminatedWith, 1);
}

TEST_F(WindowTest, DebugArgumentSkipsReceiverBringUpButKeepsControlWord)
{
    Start({QStringLiteral("  dEbUg ")});
    EXPECT_TRUE(Form->DebugMode);
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Quillex V2.3 - Debug-Mode"));
    EXPECT_EQ(Trace(),
              (QStringList{QStringLiteral("GetDLLVersion"), QStringLiteral("SetPreselector 10"),
                           QStringLiteral("Sio 1 4")}));
    Form->RGAtt->setItemIndex(2); // never reaches the receiver in debug mode
    Form->CBDither->setChecked(true);
    Form->CBPreamp->setChecked(true);
    EXPECT_EQ(Trace().mid(3), (QStringList{QStringLiteral("Sio 3 4"), QStringLiteral("Sio 7 4")}));

    // Frames come from the synthetic signal, not from the receiver.
    Form->Timer1Timer();
    EXPECT_FALSE(Trace().join(u' ').contains(QStringLiteral("GetInputData")));
    EXPECT_NE(Form->SampleBlock[0], 0);

    Prompts.Answers = {TPrompts::TAnswer::No};
    EXPECT_TRUE(CloseWindow());
    const QStringList trace = Trace();
    EXPECT_FALSE(trace.contains(QStringLiteral("Close")));
    EXPECT_EQ(trace.last(), QStringLiteral("Sio 7 4"));
}

TEST_F(WindowTest, OtherFirstArgumentStartsNormally)
{
    Start({QStringLiteral("DEBUGGER")});
    EXPECT_FALSE(Form->DebugMode);
    EXPECT_TRUE(Trace().contains(QStringLiteral("Open")));
}

TEST_F(WindowTest, CleanCloseSwitchesAcquisitionOffAndClosesTheReceiver)
{
    Start();
    EXPECT_TRUE(CloseWindow());
    EXPECT_TRUE(Prompts.Questions.isEmpty()); // nothing changed: no question, no file
    EXPECT_FALSE(QFile::exists(IniPath()));
    EXPECT_EQ(Trace().mid(Trace().size() - 2),
              (QStringList{QStringLiteral("Sio 0 4"), QStringLiteral("Close")}));
}

TEST_F(WindowTest, RefusedCloseLeavesAStoppedProgram)
{
    Start();
    Form->SESpeed->setValue(50);
    Form->BtnStartStop->click(); // fast scan: Timer1 runs
    ASSERT_TRUE(Form->Timer1->isActive());
    EXPECT_FALSE(CloseWindow()); // the script answers Cancel
    EXPECT_EQ(Prompts.Questions, QStringList{QStringLiteral("Some Settings changed, save?")});
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_TRUE(Form->RBSync->isEnabled());
    EXPECT_TRUE(Form->BtnPlayback->isEnabled());
    EXPECT_FALSE(QFile::exists(IniPath()));
    EXPECT_FALSE(Trace().contains(QStringLiteral("Close")));

    EXPECT_FALSE(CloseWindow()); // asked again
    EXPECT_EQ(Prompts.Questions.size(), 2);
}

TEST_F(WindowTest, CloseDuringSyncLoopEndsTheLoopBeforeTheQuestion)
{
    Start();
    Form->RBSync->setChecked(true);
    Form->move(Form->x() + 10, Form->y()); // a changed setting, so the question is asked
    int frames = 0;
    Form->OnFrameProcessed = [&] {
        if (++frames == 5)
            QTimer::singleShot(0, Form.get(), [this] { Form->close(); });
    };
    bool runningAtQuestion = true;
    Prompts.OnQuestion = [&] { runningAtQuestion = Form->BtnStartStop->isChecked(); };
    Prompts.Answers = {TPrompts::TAnswer::No};
    Form->BtnStartStop->click(); // returns when the loop has ended
    EXPECT_GE(frames, 5);
    EXPECT_LT(frames, 1000);
    EXPECT_FALSE(runningAtQuestion);
    EXPECT_EQ(Trace().last(), QStringLiteral("Close"));
}

TEST_F(WindowTest, ControlsWaitForTheStartupTick)
{
    Form = std::make_unique<TForm1>(Prompts, Clock, QStringList{});
    Form->BtnStartStop->click(); // too early: ignored
    EXPECT_FALSE(Form->BtnStartStop->isChecked());
    EXPECT_TRUE(Trace().isEmpty());
    EXPECT_EQ(Form->GBSpeed->title(), QStringLiteral("Framerate")); // fast scan from creation
    RunEvents(300);                                                 // the 100 ms start-up tick
    EXPECT_FALSE(Form->InitTimer->isActive());
    EXPECT_TRUE(Trace().contains(QStringLiteral("Sio 1 4")));
    EXPECT_TRUE(Form->BtnStartStop->isEnabled());
}
