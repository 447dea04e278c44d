// A stand-in for the receiver's USB library: the same nine C entries, driving
// a simulated receiver instead of hardware. Environment variables, read at
// every call so a test can change them between runs in one process:
//   QUILLEX_SIM_OPEN_FAIL=1        Open reports no receiver
//   QUILLEX_SIM_FIRMWARE_FAIL=1    FirmwareDownload fails
//   QUILLEX_SIM_FPGA_RESULT=<int>  FpgaConfig returns this code
//   QUILLEX_SIM_TRACE=<file>       append one line per call with its arguments
//   QUILLEX_SIM_BLOCK_RATE=<n>     blocks per second GetInputData delivers (0: unpaced)
// Like the device, it delivers samples only once opened, loaded with firmware
// and bitstream, and with acquisition switched on. A tenth entry, which the real
// library lacks, tells the program that it talks to a simulation.

#include "BlockPacer.h"
#include "SimSignal.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#define QX_SIM_ENTRY extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t Version = (1u << 16) | 5u;
constexpr double DefaultBlockRate = 150.0;
constexpr const char* FirmwareFile = "perseusds16v11.hex";
constexpr const char* BitStreamName = "perseusds16v10";
constexpr uint32_t AcquisitionBit = 1, DitherBit = 2, PreampBit = 4;
constexpr int32_t Failed = -1;

struct Receiver
{
    std::mutex Lock;
#ifdef QX_SIM_WITHOUT_OPEN
    bool Opened = true; // a library without Open has nothing to open
#else
    bool Opened = false;
#endif
    bool FirmwareLoaded = false;
    bool FpgaLoaded = false;
    uint32_t Control = 0;
    int Attenuator = 0;
    int Preselector = 0;
    BlockPacer Pacer;
    std::unique_ptr<SimSignal> Signal; // built at the first block: it takes a moment
    std::chrono::steady_clock::time_point Epoch = std::chrono::steady_clock::now();
};

Receiver& Device()
{
    static Receiver device;
    return device;
}

bool EnvFlag(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value && std::strcmp(value, "0") != 0;
}

bool EnvNumber(const char* name, double& number)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return false;
    char* end = nullptr;
    number = std::strtod(value, &end);
    return *end == '\0';
}

double BlockRate()
{
    double rate = DefaultBlockRate;
    if (!EnvNumber("QUILLEX_SIM_BLOCK_RATE", rate) || rate < 0)
        return DefaultBlockRate;
    return rate;
}

// One line per call, written with a single append so the file is complete at
// every moment and cheap enough for thousands of blocks per second.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Trace(const char* format, ...)
{
    const char* path = std::getenv("QUILLEX_SIM_TRACE");
    if (!path || !*path)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (length < 0)
        return;
    length = std::min(length, static_cast<int>(sizeof(line)) - 2);
    for (int i = 0; i < length; ++i)
        if (static_cast<unsigned char>(line[i]) < ' ')
            line[i] = '?';
    line[length++] = '\n';
    const int file = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0)
        return;
    [[maybe_unused]] const ssize_t written = write(file, line, length);
    close(file);
}

const char* Printable(const char* text)
{
    return text ? text : "(null)";
}

} // namespace

#ifndef QX_SIM_UNMARKED
QX_SIM_ENTRY int32_t QuillexSimulatedReceiver()
{
    return 1;
}
#endif

QX_SIM_ENTRY uint32_t GetDLLVersion()
{
    Trace("GetDLLVersion");
    return Version;
}

#ifndef QX_SIM_WITHOUT_OPEN
QX_SIM_ENTRY int32_t Open()
{
    Trace("Open");
    if (EnvFlag("QUILLEX_SIM_OPEN_FAIL"))
        return 0;
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    device.Opened = true;
    return 1;
}
#endif

QX_SIM_ENTRY int32_t Close()
{
    Trace("Close");
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    device.Opened = false;
    device.FirmwareLoaded = false;
    device.FpgaLoaded = false;
    device.Control = 0;
    return 0;
}

QX_SIM_ENTRY int32_t FirmwareDownload(const char* fileName)
{
    Trace("FirmwareDownload %s", Printable(fileName));
    if (EnvFlag("QUILLEX_SIM_FIRMWARE_FAIL"))
        return 1;
    if (!fileName || std::strcmp(fileName, FirmwareFile) != 0)
        return 1; // no such firmware file
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    if (!device.Opened)
        return 2;
    device.FirmwareLoaded = true;
    return 0;
}

QX_SIM_ENTRY int32_t FpgaConfig(const char* bitStream, const void* /*designConstant*/)
{
    Trace("FpgaConfig %s", Printable(bitStream));
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    double forced = 0;
    int32_t result = 0;
    if (EnvNumber("QUILLEX_SIM_FPGA_RESULT", forced))
        result = static_cast<int32_t>(forced);
    else if (!bitStream || std::strcmp(bitStream, BitStreamName) != 0)
        result = 1; // bitstream file not found
    else if (!device.Opened || !device.FirmwareLoaded)
        result = 3; // nothing to load it into
    device.FpgaLoaded = result == 0;
    return result;
}

#ifndef QX_SIM_WITHOUT_SIO
QX_SIM_ENTRY int32_t Sio(void* controlWord, int32_t byteCount)
{
    uint32_t word = 0;
    if (controlWord && byteCount >= static_cast<int32_t>(sizeof(word)))
        std::memcpy(&word, controlWord, sizeof(word));
    else
        controlWord = nullptr;
    if (controlWord)
        Trace("Sio %u %d", word, byteCount);
    else
        Trace("Sio - %d", byteCount);
    if (!controlWord)
        return Failed;
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    device.Control = word;
    return 0;
}
#endif

QX_SIM_ENTRY int32_t SetAttenuator(int32_t step)
{
    Trace("SetAttenuator %d", step);
    const int value = step & 0xFF;
    if (value > 3)
        return Failed;
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    device.Attenuator = value;
    return 0;
}

QX_SIM_ENTRY int32_t SetPreselector(int32_t index)
{
    Trace("SetPreselector %d", index);
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    device.Preselector = index & 0xFF;
    return 0;
}

QX_SIM_ENTRY int32_t GetInputData(void* buffer, int32_t byteCount)
{
    Trace("GetInputData %d", byteCount);
    Receiver& device = Device();
    std::lock_guard lock(device.Lock);
    // Paced even when nothing is delivered, so a caller's read loop never spins.
    device.Pacer.Wait(BlockRate());
    const bool streaming =
        device.Opened && device.FpgaLoaded && (device.Control & AcquisitionBit) != 0;
    if (!streaming || !buffer || byteCount < 2 || byteCount > 2 * SimSignal::BlockSamples)
        return Failed;
    if (!device.Signal)
        device.Signal = std::make_unique<SimSignal>();
    SimControls controls;
    controls.Attenuator = device.Attenuator;
    controls.Dither = (device.Control & DitherBit) != 0;
    controls.Preamp = (device.Control & PreampBit) != 0;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - device.Epoch).count();
    device.Signal->Fill(static_cast<int16_t*>(buffer), byteCount / 2, controls, seconds);
    return 0;
}
