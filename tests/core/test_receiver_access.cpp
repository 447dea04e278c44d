#include "Stoppuhr.h"
#include "test_receiver_support.h"

#include <array>
#include <chrono>
#include <thread>
#include <tuple>

TEST(ReceiverLibraryCandidates, ExplicitChoiceElseProgramFolderSystemThenPrivateFolder)
{
    // The private folder is configured per platform: lib/quillex or lib/<multiarch>/quillex.
    const std::string privateDir = QUILLEX_PRIVATE_LIBRARY_DIR;
    ASSERT_TRUE(privateDir.starts_with("lib/") && privateDir.ends_with("/quillex")) << privateDir;
    const Lines usual{"/opt/quillex/bin/libperseususb.so", "libperseususb.so",
                      "/opt/quillex/" + privateDir + "/libperseususb.so"};
    // Without a known program folder only the system search is left, never "./".
    const std::tuple<const char*, const char*, Lines> cases[] = {
        {"/tmp/x/libother.so", "/opt/quillex/bin", {"/tmp/x/libother.so"}},
        {nullptr, "/opt/quillex/bin", usual},
        {"", "/opt/quillex/bin", usual},
        {nullptr,
         "/bin",
         {"/bin/libperseususb.so", "libperseususb.so", "/" + privateDir + "/libperseususb.so"}},
        {nullptr, "", {"libperseususb.so"}}};
    for (const auto& [choice, folder, want] : cases)
        EXPECT_EQ(TReceiverAccess::LibraryCandidates(choice, folder), want) << folder;
}

using ReceiverAccess = SimulatedReceiverTest;

TEST_F(ReceiverAccess, VersionAndRunSequenceSendEachCallWithItsArguments)
{
    ASSERT_TRUE(Bind());
    EXPECT_EQ(Receiver.ReceiverDllVersion(), (1u << 16) | 5u); // the simulator's 1.5
    ASSERT_TRUE(Receiver.ReceiverOpen());
    ASSERT_TRUE(Receiver.ReceiverFirmwareDownload());
    ASSERT_EQ(Receiver.ReceiverFpgaConfig(), "OK");
    Receiver.ReceiverSetAttenuator(2);
    Receiver.ReceiverSetDither(true);
    Receiver.ReceiverSetPreamp(false);
    Receiver.ReceiverSetPreselector(10);
    Receiver.ReceiverSetAcquisition(true);
    Receiver.ReceiverSetPreamp(true); // every bit of the control word on
    Receiver.ReceiverSetDither(false);
    std::array<int16_t, TReceiverAccess::SampleCount> block{};
    Receiver.ReceiverReadBlock(block.data());
    Receiver.ReceiverSetAcquisition(false);
    Receiver.ReceiverClose();
    EXPECT_TRUE(Receiver.ReleaseReceiverLibrary());
    EXPECT_FALSE(Receiver.IsBound());
    EXPECT_EQ(TraceLines(), (Lines{"GetDLLVersion", "Open", "FirmwareDownload perseusds16v11.hex",
                                   "FpgaConfig perseusds16v10", "SetAttenuator 2", "Sio 2 4",
                                   "Sio 2 4", "SetPreselector 10", "Sio 3 4", "Sio 7 4", "Sio 5 4",
                                   "GetInputData 16384", "Sio 4 4", "Close"}));
    EXPECT_GT(std::count_if(block.begin(), block.end(), [](int16_t v) { return v != 0; }),
              TReceiverAccess::SampleCount / 2);
}

TEST_F(ReceiverAccess, FpgaResultCodesMapToTheirTexts)
{
    const char* const cases[][2] = {{"0", "OK"},
                                    {"1", "FPGAConfig: File not found: perseusds16v10.sbs"},
                                    {"2", "FPGAConfig: IO-Error"},
                                    {"3", "FPGAConfig: BitStream not loaded"},
                                    {"4", "FPGAConfig: unknown error"},
                                    {"-7", "FPGAConfig: unknown error"}};
    ASSERT_TRUE(Bind() && Receiver.ReceiverOpen() && Receiver.ReceiverFirmwareDownload());
    for (const auto& [code, text] : cases) {
        setenv("QUILLEX_SIM_FPGA_RESULT", code, 1);
        EXPECT_EQ(Receiver.ReceiverFpgaConfig(), text) << "code " << code;
    }
}

TEST_F(ReceiverAccess, MissingLibraryIsReportedEvenWhenOneSitsNextToTheProgram)
{
    ASSERT_TRUE(Bind());
    Receiver.ReceiverSetAcquisition(true);
    setenv("QUILLEX_RECEIVER_LIBRARY", "/nonexistent/libperseususb.so", 1);
    EXPECT_FALSE(Bind() || Receiver.IsBound());
    EXPECT_EQ(Messages, Lines{"Perseus-DLL not found, terminating."});
    EXPECT_EQ(Receiver.ControlWord(), 0u);
    EXPECT_FALSE(Receiver.ReleaseReceiverLibrary());
}

// The simulator is told apart by its mark; the real library (here the simulator built
// without the mark) is not, and nothing of a former binding survives a failed one.
TEST_F(ReceiverAccess, SimulatorIsRecognisedByItsMark)
{
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    std::string folder(exe, length > 0 ? length : 0);
    folder.resize(folder.rfind('/') + 1);
    ASSERT_TRUE(Bind());
    EXPECT_TRUE(Receiver.IsSimulated());
    EXPECT_EQ(Receiver.LibraryPath(), folder + "libperseususb.so");

    UseBuiltLibrary("libperseususb_unmarked.so");
    ASSERT_TRUE(Bind());
    EXPECT_FALSE(Receiver.IsSimulated());
    EXPECT_EQ(Receiver.LibraryPath(), folder + "libperseususb_unmarked.so");

    UseBuiltLibrary("libperseususb.so");
    ASSERT_TRUE(Bind() && Receiver.IsSimulated());
    setenv("QUILLEX_RECEIVER_LIBRARY", "/nonexistent/libperseususb.so", 1);
    EXPECT_FALSE(Bind() || Receiver.IsSimulated());
    EXPECT_EQ(Receiver.LibraryPath(), "");
    UseBuiltLibrary("libperseususb.so");
    ASSERT_TRUE(Bind());
    Receiver.ReleaseReceiverLibrary();
    EXPECT_FALSE(Receiver.IsSimulated());
    EXPECT_EQ(Receiver.LibraryPath(), "");
}

TEST_F(ReceiverAccess, LibrariesLackingAnEntry)
{
    UseBuiltLibrary("libperseususb_nosio.so");
    EXPECT_FALSE(Bind() || Receiver.IsBound());
    EXPECT_EQ(Messages, Lines{"Perseus-DLL: entry \"Sio\" missing, terminating."});

    // Every wrapper stays harmless on an unbound receiver.
    std::array<int16_t, TReceiverAccess::SampleCount> block;
    block.fill(0x1234);
    Receiver.ReceiverSetAcquisition(true);
    Receiver.ReceiverSetAttenuator(1);
    Receiver.ReceiverSetPreselector(10);
    Receiver.ReceiverReadBlock(block.data());
    Receiver.ReceiverClose();
    EXPECT_EQ(Receiver.ReceiverDllVersion(), 0u);
    EXPECT_FALSE(Receiver.ReceiverOpen() || Receiver.ReceiverFirmwareDownload());
    EXPECT_NE(Receiver.ReceiverFpgaConfig(), "OK");
    EXPECT_EQ(block[0], 0x1234);
    EXPECT_TRUE(TraceLines().empty());

    // A library without Open counts as opened.
    UseBuiltLibrary("libperseususb_noopen.so");
    ASSERT_TRUE(Bind());
    EXPECT_TRUE(Receiver.ReceiverOpen() && Receiver.ReceiverFirmwareDownload());
    EXPECT_EQ(TraceLines(), Lines{"FirmwareDownload perseusds16v11.hex"});
}

// Stop right after Start is tiny and non-negative; later Stops keep measuring from the
// same Start, and a new Start begins a new interval.
TEST(Stoppuhr, IntervalsFromTheLastStart)
{
    TStoppUhr watch;
    watch.Start();
    const double tiny = watch.Stop();
    EXPECT_TRUE(tiny >= 0.0 && tiny < 1e-3) << tiny;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double first = watch.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double second = watch.Stop();
    EXPECT_GE(first, 0.005);
    EXPECT_GE(second - first, 0.005);
    watch.Start();
    EXPECT_LT(watch.Stop(), 0.005);
}
