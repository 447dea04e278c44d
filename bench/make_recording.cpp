// Records frames of the simulated receiver to a ".spk" file, as the window would, for the
// export benchmark and the README's example image:
//   make_recording FILE FRAMES [FRAMES_PER_SECOND [FREQ_OFFSET_MHZ]]
// Frames are read unpaced (QUILLEX_SIM_BLOCK_RATE=0); their stamps follow the given rate
// from 2026-12-06 23:59:40 on, one time label per second, so a recording of more than 20
// seconds crosses midnight. A header with the frequency offset comes first.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DateTimeU.h"
#include "ReceiverAccess.h"
#include "SpkFile.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: make_recording FILE FRAMES [FRAMES_PER_SECOND [OFFSET_MHZ]]\n");
        return 2;
    }
    const long frames = std::atol(argv[2]);
    const int rate = argc > 3 ? std::atoi(argv[3]) : 100;
    const double offset = argc > 4 ? std::atof(argv[4]) : 0.0;
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

    quillex::TSpkWriter writer;
    writer.Create(argv[1]);
    writer.AppendHeader(offset, 0.0, false, '.');
    const double start = quillex::EncodeDateTime(2026, 12, 6, 23, 59, 40);
    std::vector<int16_t> block(TReceiverAccess::SampleCount);
    for (long i = 0; i < frames; ++i) {
        receiver.ReceiverReadBlock(block.data());
        const double stamp = i % rate == 0 ? start + quillex::SecondsToDays(double(i) / rate) : 0.0;
        writer.AppendRecord(stamp, block.data());
    }
    writer.Close();
    receiver.ReceiverSetAcquisition(false);
    receiver.ReceiverClose();
    return 0;
}
