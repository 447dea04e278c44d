#include "ReceiverSession.h"

#include "MonitorLog.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

namespace quillex::monitor {

namespace {
constexpr int Preselector = 10;
// The window's pause between switching acquisition off and closing the receiver.
constexpr auto CloseWait = std::chrono::milliseconds(50);
// How long Close waits for a read under way to return before leaving it to the library.
constexpr double CloseReadSeconds = 0.5;
} // namespace

TReceiverSession::TReceiverSession() : FAccess(std::make_unique<TReceiverAccess>())
{
    // Started once every member it uses is made.
    FReader = std::thread([this] {
        pthread_setname_np(pthread_self(), "qx-receiver");
        ReaderLoop();
    });
}

TReceiverSession::~TReceiverSession()
{
    Close();
    std::unique_lock lock(FMutex);
    FQuit = true;
    FChanged.notify_all();
    const bool stuck = FRequested && !FDone;
    lock.unlock();
    if (stuck) {
        // The library holds the reader; the process ends around it.
        FReader.detach();
        (void)FAccess.release();
    } else {
        FReader.join();
    }
}

void TReceiverSession::ReaderLoop()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        FChanged.wait(lock, [this] { return FQuit || (FRequested && !FDone); });
        if (FQuit)
            return;
        lock.unlock();
        const int32_t result = FAccess->ReceiverReadBlock(FBlock.data());
        lock.lock();
        FResult = result;
        FDone = true;
        FChanged.notify_all();
    }
}

bool TReceiverSession::WaitForReader(double Seconds, std::unique_lock<std::mutex>& Lock)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
    return FChanged.wait_until(Lock, until, [this] { return FDone || FWoken; }) && FDone;
}

std::string TReceiverSession::Open(const TReceiverControls& Controls)
{
    {
        std::unique_lock lock(FMutex);
        if (FRequested && !FDone)
            return "the receiver library has not returned from its last read";
        FRequested = FDone = false;
    }
    std::string message;
    if (!FAccess->BindReceiverLibrary([&](const std::string& Text) { message = Text; }))
        return message.empty() ? "the receiver library cannot be loaded" : message;
    FLibraryPath = FAccess->LibraryPath();
    const auto fail = [this](const std::string& Reason) {
        FAccess->ReleaseReceiverLibrary();
        return Reason;
    };
    if (!FAccess->ReceiverOpen())
        return fail("Perseus not found");
    if (!FAccess->ReceiverFirmwareDownload()) {
        FAccess->ReceiverClose();
        return fail("perseusds16v11.hex not found");
    }
    const std::string fpga = FAccess->ReceiverFpgaConfig();
    if (fpga != "OK") {
        FAccess->ReceiverClose();
        return fail(fpga);
    }
    FControls = Controls;
    FAccess->ReceiverSetAttenuator(Controls.AttenuatorDb / 10);
    FAccess->ReceiverSetDither(Controls.Dither);
    FAccess->ReceiverSetPreamp(Controls.Preamp);
    FAccess->ReceiverSetPreselector(Preselector);
    FAccess->ReceiverSetAcquisition(true);
    FOpen = true;
    return {};
}

void TReceiverSession::Apply(const TReceiverControls& Controls)
{
    if (!FOpen || Controls == FControls)
        return;
    if (Controls.AttenuatorDb != FControls.AttenuatorDb)
        FAccess->ReceiverSetAttenuator(Controls.AttenuatorDb / 10);
    if (Controls.Dither != FControls.Dither)
        FAccess->ReceiverSetDither(Controls.Dither);
    if (Controls.Preamp != FControls.Preamp)
        FAccess->ReceiverSetPreamp(Controls.Preamp);
    FControls = Controls;
}

TReceiverSession::TRead TReceiverSession::Read(int16_t* Block)
{
    std::unique_lock lock(FMutex);
    FWoken = false;
    if (!FRequested) {
        FRequested = true;
        FDone = false;
        FChanged.notify_all();
    }
    if (!WaitForReader(ReadTimeoutSeconds, lock))
        return FWoken ? TRead::Woken : TRead::TimedOut;
    std::copy(FBlock.begin(), FBlock.end(), Block);
    const TRead result = FResult < 0 ? TRead::Failed : TRead::Block;
    // The next block is asked for at once: the reader goes on into the library without
    // sleeping in between, and a frame costs one wake-up of this thread rather than two.
    FDone = false;
    FRequested = result == TRead::Block;
    if (FRequested)
        FChanged.notify_all();
    return result;
}

void TReceiverSession::Wake()
{
    std::lock_guard lock(FMutex);
    FWoken = true;
    FChanged.notify_all();
}

void TReceiverSession::Close()
{
    if (!FAccess->IsBound())
        return;
    bool reading;
    {
        std::unique_lock lock(FMutex);
        FWoken = false;
        reading = FRequested && !FDone && !WaitForReader(CloseReadSeconds, lock);
        if (!reading)
            FRequested = FDone = false;
    }
    // A library still inside a read is not called again from here: it may hold its own
    // lock there. It is left as it is and released once the read returns (see Open).
    if (reading) {
        FOpen = false;
        return;
    }
    if (FOpen) {
        FAccess->ReceiverSetAcquisition(false);
        std::this_thread::sleep_for(CloseWait);
        FAccess->ReceiverClose();
    }
    FOpen = false;
    FAccess->ReleaseReceiverLibrary();
}

} // namespace quillex::monitor
