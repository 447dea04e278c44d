// A receiver library whose signal the monitor's tests know: a tone of a chosen amplitude on a
// chosen frequency over white Gaussian noise, and bursts of a second tone on a schedule of the
// monotonic clock (so they keep their times when the library is loaded again). Environment:
//   QX_STANDIN_RATE=<blocks/s>          pace of GetInputData (default 150)
//   QX_STANDIN_TONE=<MHz>:<amplitude>   the steady tone (amplitude in sample units)
//   QX_STANDIN_NOISE=<sigma>            standard deviation of the noise, sample units
//   QX_STANDIN_BURST=<MHz>:<amplitude>:<period s>:<length s>
//   QX_STANDIN_ABSENT=<file>            while it exists, Open finds no receiver
//   QX_STANDIN_FAIL=<file>              while it exists, GetInputData returns -1
//   QX_STANDIN_HANG=<file>              while it exists, GetInputData does not return
//   QX_STANDIN_OPEN_S=<s>               Open takes that long, as a receiver loading its firmware
//   QX_STANDIN_TRACE=<file>             a line per Open, Close, attenuator and failed or hung read

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <unistd.h>

#define QX_ENTRY extern "C" __attribute__((visibility("default")))

namespace {

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Exists(const char* Variable)
{
    const char* file = std::getenv(Variable);
    return file != nullptr && *file != 0 && ::access(file, F_OK) == 0;
}

void Trace(const char* What)
{
    if (const char* file = std::getenv("QX_STANDIN_TRACE"))
        if (std::FILE* f = std::fopen(file, "a")) {
            std::fprintf(f, "%.3f %s\n", Seconds(), What);
            std::fclose(f);
        }
}

// Up to four numbers separated by ':'.
int Numbers(const char* Variable, double (&Out)[4])
{
    const char* text = std::getenv(Variable);
    int n = 0;
    while (text != nullptr && *text != 0 && n < 4) {
        char* end = nullptr;
        Out[n++] = std::strtod(text, &end);
        text = *end == ':' ? end + 1 : nullptr;
    }
    return n;
}

double NextDue = 0;
bool Streaming = false;
std::mt19937 Random(12345);

} // namespace

QX_ENTRY uint32_t GetDLLVersion()
{
    return 0x00010000;
}

QX_ENTRY int32_t Open()
{
    double slow[4] = {0};
    if (Numbers("QX_STANDIN_OPEN_S", slow) > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(slow[0]));
    Trace(Exists("QX_STANDIN_ABSENT") ? "Open absent" : "Open");
    return Exists("QX_STANDIN_ABSENT") ? 0 : 1;
}

QX_ENTRY int32_t Close()
{
    Trace("Close");
    Streaming = false;
    return 0;
}

QX_ENTRY int32_t FirmwareDownload(const char*)
{
    return 0;
}

QX_ENTRY int32_t FpgaConfig(const char*, const void*)
{
    return 0;
}

QX_ENTRY int32_t Sio(void* Word, int32_t)
{
    Streaming = (*static_cast<uint32_t*>(Word) & 1) != 0;
    return 0;
}

QX_ENTRY int32_t SetAttenuator(int32_t Step)
{
    char line[32];
    std::snprintf(line, sizeof line, "SetAttenuator %d", int(Step));
    Trace(line);
    return 0;
}

QX_ENTRY int32_t SetPreselector(int32_t)
{
    return 0;
}

QX_ENTRY int32_t GetInputData(void* Buffer, int32_t Bytes)
{
    double rate[4] = {150};
    Numbers("QX_STANDIN_RATE", rate);
    // A block belongs to its place in the schedule, also when the caller is late and the
    // blocks come back to back to catch up: its bursts are where the schedule puts them.
    const double now = Seconds();
    if (NextDue < now - 2.0)
        NextDue = now;
    const double due = NextDue;
    NextDue += 1.0 / rate[0];
    std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
    if (Exists("QX_STANDIN_HANG")) {
        Trace("Hang");
        while (Exists("QX_STANDIN_HANG"))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!Streaming || Exists("QX_STANDIN_FAIL")) {
        Trace("Fail");
        return -1;
    }
    double tone[4] = {0, 0}, noise[4] = {0}, burst[4] = {0, 0, 1, 0};
    Numbers("QX_STANDIN_TONE", tone);
    Numbers("QX_STANDIN_NOISE", noise);
    Numbers("QX_STANDIN_BURST", burst);
    const bool bursting = burst[3] > 0 && std::fmod(due, burst[2]) < burst[3];
    std::normal_distribution<double> gauss(0.0, noise[0] > 0 ? noise[0] : 1.0);
    auto* samples = static_cast<int16_t*>(Buffer);
    // The samples are taken at 80 MHz; each block starts its tones at a random phase.
    const double phase = std::uniform_real_distribution<double>(0, 6.283185307179586)(Random);
    for (int i = 0; i < Bytes / 2; ++i) {
        double v = tone[1] * std::cos(2 * M_PI * tone[0] / 80.0 * i + phase);
        if (bursting)
            v += burst[1] * std::cos(2 * M_PI * burst[0] / 80.0 * i + 2 * phase);
        if (noise[0] > 0)
            v += gauss(Random);
        samples[i] = int16_t(std::lrint(std::clamp(v, -32768.0, 32767.0)));
    }
    return 0;
}
