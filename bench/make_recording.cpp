// Records frames of the simulated receiver to a ".spk" file, as the window would, for the
// export benchmark and the README's example image:
//   make_recording FILE FRAMES [FRAMES_PER_SECOND [FREQ_OFFSET_MHZ]]
// Frames are read unpaced (QUILLEX_SIM_BLOCK_RATE=0); their stamps follow the given rate
// from 2026-12-06 23:59:40 on, one time label per second, so a recording of more than 20
// seconds crosses midnight. A header with the frequency offset comes first.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "DateTimeU.h"
#include "ReceiverAccess.h"
#include "SpkFile.h"

namespace {

// The whole of Text as a whole number from Low to High.
bool ParseCount(const char* Text, long Low, long High, long& Value)
{
    char* end = nullptr;
    errno = 0;
    Value = std::strtol(Text, &end, 10);
    return end != Text && *end == '\0' && errno == 0 && Value >= Low && Value <= High;
}

} // namespace

int main(int argc, char** argv)
{
    const char* usage = "usage: make_recording FILE FRAMES [FRAMES_PER_SECOND [OFFSET_MHZ]]\n";
    if (argc < 3 || argc > 5) {
        std::fputs(usage, stderr);
        return 2;
    }
    long frames = 0, rate = 100;
    if (!ParseCount(argv[2], 1, 1L << 40, frames)) {
        std::fprintf(stderr, "make_recording: FRAMES must be a whole number from 1, not \"%s\"\n",
                     argv[2]);
        return 2;
    }
    // The stamps fall every RATE frames: a rate of 0 would divide by zero.
    if (argc > 3 && !ParseCount(argv[3], 1, 1000000, rate)) {
        std::fprintf(stderr,
                     "make_recording: FRAMES_PER_SECOND must be a whole number from 1 to "
                     "1000000, not \"%s\"\n",
                     argv[3]);
        return 2;
    }
    char* end = nullptr;
    const double offset = argc > 4 ? std::strtod(argv[4], &end) : 0.0;
    if (argc > 4 && (end == argv[4] || *end != '\0')) {
        std::fprintf(stderr, "make_recording: OFFSET_MHZ must be a number, not \"%s\"\n", argv[4]);
        return 2;
    }
    setenv("QUILLEX_SIM_BLOCK_RATE", "0", 0);

    TReceiverAccess receiver;
    const auto say = [](const std::string& Text) { std::fprintf(stderr, "%s\n", Text.c_str()); };
    if (!receiver.BindReceiverLibrary(say) || !receiver.ReceiverOpen() ||
        !receiver.ReceiverFirmwareDownload() || receiver.ReceiverFpgaConfig() != "OK") {
        say("the simulated receiver does not start");
        return 1;
    }
    receiver.ReceiverSetPreselector(10);
    receiver.ReceiverSetAcquisition(true);

    try {
        quillex::TSpkWriter writer;
        writer.Create(argv[1]);
        writer.AppendHeader(offset, 0.0, false, '.');
        const double start = quillex::EncodeDateTime(2026, 12, 6, 23, 59, 40);
        std::vector<int16_t> block(TReceiverAccess::SampleCount);
        for (long i = 0; i < frames; ++i) {
            receiver.ReceiverReadBlock(block.data());
            const double stamp =
                i % rate == 0 ? start + quillex::SecondsToDays(double(i) / double(rate)) : 0.0;
            writer.AppendRecord(stamp, block.data());
        }
        writer.Close();
    } catch (const std::exception& e) {
        say(std::string("make_recording: ") + e.what());
        return 1;
    }
    receiver.ReceiverSetAcquisition(false);
    receiver.ReceiverClose();
    return 0;
}
