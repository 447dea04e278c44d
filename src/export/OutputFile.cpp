#include "OutputFile.h"

#include "ExportError.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

namespace {

constexpr size_t StreamBufferSize = 1 << 20;

// The temporary names the interrupt handler removes: fixed storage, since a signal
// handler may only call async-signal-safe functions. Room for every output one run makes.
constexpr int MaxOutputs = 8;
std::array<std::array<char, 4096>, MaxOutputs> PendingNames{};
std::array<std::atomic<bool>, MaxOutputs> PendingUsed{};

int Register(const std::string& Name)
{
    if (Name.size() >= PendingNames[0].size())
        return -1;
    for (int i = 0; i < MaxOutputs; ++i) {
        if (PendingUsed[i].load())
            continue;
        std::memcpy(PendingNames[i].data(), Name.c_str(), Name.size() + 1);
        PendingUsed[i].store(true);
        return i;
    }
    return -1;
}

void Unregister(const std::string& Name)
{
    for (int i = 0; i < MaxOutputs; ++i)
        if (PendingUsed[i].load() && Name == PendingNames[i].data())
            PendingUsed[i].store(false);
}

extern "C" void OnInterrupt(int)
{
    for (int i = 0; i < MaxOutputs; ++i)
        if (PendingUsed[i].load())
            ::unlink(PendingNames[i].data());
    static const char text[] = "quillex-export: interrupted; no output written\n";
    [[maybe_unused]] const ssize_t n = ::write(2, text, sizeof text - 1);
    ::_exit(static_cast<int>(TExitCode::Interrupted));
}

} // namespace

// A fault on reading the mapped recording: the file was cut short (or failed to read)
// between the check of its pages and the read. The outputs would be incomplete.
extern "C" void OnReadFault(int)
{
    for (int i = 0; i < MaxOutputs; ++i)
        if (PendingUsed[i].load())
            ::unlink(PendingNames[i].data());
    static const char text[] = "quillex-export: the recording could not be read any more (it was "
                               "cut short or failed while being read); no output written\n";
    [[maybe_unused]] const ssize_t n = ::write(2, text, sizeof text - 1);
    ::_exit(static_cast<int>(TExitCode::InputFile));
}

void RemoveOutputsOnInterrupt()
{
    struct sigaction action
    {
    };
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    action.sa_handler = OnReadFault;
    ::sigaction(SIGBUS, &action, nullptr);
}

TOutputFile::TOutputFile(const std::string& Target) : FTarget(Target)
{
    const size_t slash = Target.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : Target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? Target : Target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        throw TExportError(TExitCode::OutputFile, "Cannot write " + Target + ": not a file name");
    struct stat info
    {
    };
    const bool exists = ::stat(Target.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode))
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + Target + ": " + std::strerror(EISDIR));
    if (exists && !S_ISREG(info.st_mode)) {
        // A device or a pipe (/dev/stdout, a FIFO) is written in place: renaming a file
        // over it would replace the device itself.
        FFd = ::open(Target.c_str(), O_WRONLY | O_CLOEXEC);
        if (FFd < 0)
            throw TExportError(TExitCode::OutputFile,
                               "Cannot write " + Target + ": " + std::strerror(errno));
        FTemporary = Target;
        FDirect = true;
        return;
    }
    std::string pattern = folder + "." + name + ".part-XXXXXX";
    // An interrupt between making the file and noting its name would leave it behind: hold
    // the signals the handler removes outputs for until the name is noted. Outputs are made
    // before any worker thread starts, so this thread is the only one to receive them.
    sigset_t held, before;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &before);
    FFd = ::mkstemp(pattern.data());
    const int error = errno;
    if (FFd >= 0)
        Register(pattern);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (FFd < 0)
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + Target + ": " + std::strerror(error));
    FTemporary = pattern;
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(FFd, 0666 & ~mask);
}

TOutputFile::~TOutputFile()
{
    Discard();
}

std::FILE* TOutputFile::Stream()
{
    if (FStream == nullptr && FFd >= 0 && !FClosed) {
        FStream = ::fdopen(FFd, "wb");
        if (FStream == nullptr)
            Fail(errno);
        // Without a buffer of its own, the C library would ignore the size and take 4 KB.
        FBuffer = std::make_unique<char[]>(StreamBufferSize);
        if (std::setvbuf(FStream, FBuffer.get(), _IOFBF, StreamBufferSize) != 0)
            Fail(errno != 0 ? errno : ENOMEM);
    }
    return FStream;
}

void TOutputFile::Fail(int Error)
{
    Discard();
    throw TExportError(TExitCode::OutputFile,
                       "Cannot write " + FTarget + ": " + std::strerror(Error));
}

void TOutputFile::Close()
{
    if (FDone || FClosed)
        return;
    int error = 0;
    if (FStream != nullptr) {
        if (std::fflush(FStream) != 0 || std::ferror(FStream))
            error = errno != 0 ? errno : EIO;
        if (error == 0 && !FDirect && ::fsync(::fileno(FStream)) != 0)
            error = errno;
        if (std::fclose(FStream) != 0 && error == 0)
            error = errno;
        FStream = nullptr;
        FFd = -1;
    } else if (FFd >= 0) {
        if (!FDirect && ::fsync(FFd) != 0)
            error = errno;
        if (::close(FFd) != 0 && error == 0)
            error = errno;
        FFd = -1;
    }
    FBuffer.reset();
    FClosed = true;
    if (error != 0)
        Fail(error);
}

void TOutputFile::Commit()
{
    if (FDone)
        return;
    Close();
    if (!FDirect && ::rename(FTemporary.c_str(), FTarget.c_str()) != 0)
        Fail(errno);
    Unregister(FTemporary);
    FNamed = !FDirect;
    FDone = true;
}

void TOutputFile::Discard()
{
    if (FDone)
        return;
    if (FStream != nullptr)
        std::fclose(FStream);
    else if (FFd >= 0)
        ::close(FFd);
    FStream = nullptr;
    FFd = -1;
    FBuffer.reset();
    if (!FTemporary.empty() && !FDirect) {
        ::unlink(FTemporary.c_str());
        Unregister(FTemporary);
    }
    FDone = true;
}

void TOutputFile::Withdraw()
{
    if (FNamed)
        ::unlink(FTarget.c_str());
    FNamed = false;
}

void CommitAll(std::span<TOutputFile* const> Files)
{
    try {
        for (TOutputFile* file : Files)
            file->Close();
        for (TOutputFile* file : Files)
            file->Commit();
    } catch (...) {
        for (TOutputFile* file : Files) {
            file->Withdraw();
            file->Discard();
        }
        throw;
    }
}

} // namespace quillex
