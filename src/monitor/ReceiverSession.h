#pragma once

#include "ReceiverAccess.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The receiver as the monitor keeps it: bound, opened and started in the window's order and
// with the window's file names, read on a thread of its own so that a read that never returns
// is noticed after ReadTimeoutSeconds instead of holding up the monitor. A library stuck in a
// read is never released under it: it stays loaded until the read returns (or the program
// ends), and the receiver counts as closed meanwhile.
namespace quillex::monitor {

struct TReceiverControls
{
    int AttenuatorDb = 0; // 0, 10, 20, 30
    bool Dither = false;
    bool Preamp = false;
    bool operator==(const TReceiverControls&) const = default;
};

class TReceiverSession
{
public:
    static constexpr double ReadTimeoutSeconds = 2.0;

    TReceiverSession();
    ~TReceiverSession();
    TReceiverSession(const TReceiverSession&) = delete;
    TReceiverSession& operator=(const TReceiverSession&) = delete;

    // Binds the library (the window's search order), opens the receiver, downloads the
    // firmware and configures the FPGA, sets the controls, preselector 10 and acquisition on.
    // An empty text when it runs, else the reason in one line (nothing stays open).
    std::string Open(const TReceiverControls& Controls);
    bool IsOpen() const { return FOpen; }
    bool IsSimulated() const { return FAccess->IsSimulated(); }
    const std::string& LibraryPath() const { return FLibraryPath; }
    void Apply(const TReceiverControls& Controls);

    enum class TRead { Block, Failed, TimedOut, Woken };
    // One block of 8192 samples into Block. Failed: the library returned a negative result;
    // TimedOut: it did not return within ReadTimeoutSeconds; Woken: Wake was called.
    TRead Read(int16_t* Block);
    // Makes a waiting Read return Woken at once (from any thread).
    void Wake();
    // Acquisition off, 50 ms, the receiver closed and the library released; a library still
    // inside a read is left alone until the read returns.
    void Close();

private:
    void ReaderLoop();
    bool WaitForReader(double Seconds, std::unique_lock<std::mutex>& Lock);

    // On the heap: a library that never returns from a read keeps it, and the program leaves
    // it behind rather than unload code that a thread is still running.
    std::unique_ptr<TReceiverAccess> FAccess;
    std::string FLibraryPath;
    bool FOpen = false;
    TReceiverControls FControls;

    std::thread FReader;
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FRequested = false; // a read is asked for or under way
    bool FDone = false;      // its result is in FResult and FBlock
    bool FQuit = false;
    bool FWoken = false;
    int32_t FResult = 0;
    std::array<int16_t, TReceiverAccess::SampleCount> FBlock{};
};

} // namespace quillex::monitor
