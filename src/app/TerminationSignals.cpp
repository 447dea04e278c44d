#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Unit1.h"

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
// [0] is written by the handler, [1] read by the window's thread.
int SignalPipe[2] = {-1, -1};

struct TSignalNote
{
    int64_t ArrivalNs;
    int32_t Signal;
    int32_t Unused;
};

// Sends the arrival time, so that signals are grouped by when they came, not by when
// the window's thread got round to reading them.
void OnTerminationSignal(int Signal)
{
    const int savedErrno = errno;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const TSignalNote note{int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec, Signal, 0};
    [[maybe_unused]] const auto written = ::write(SignalPipe[0], &note, sizeof note);
    errno = savedErrno;
}

} // namespace

TTerminationSignals::TTerminationSignals(TForm1& Window) : FWindow(Window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0)
        return;
    // Neither end may block: not the handler on a full pipe, not the reader on an empty one.
    ::fcntl(SignalPipe[0], F_SETFL, ::fcntl(SignalPipe[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(SignalPipe[1], F_SETFL, ::fcntl(SignalPipe[1], F_GETFL) | O_NONBLOCK);
    FNotifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TTerminationSignals::ReadRequests);

    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (const int s : Signals)
        sigaddset(&action.sa_mask, s); // one handler at a time writes whole time stamps
    action.sa_flags = SA_RESTART;
    for (const int s : Signals)
        ::sigaction(s, &action, nullptr);
}

TTerminationSignals::~TTerminationSignals()
{
    if (!FNotifier)
        return;
    // The window has ended: from here on no step is left that a signal could cut short,
    // so the system's default actions come back.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int s : Signals)
        ::sigaction(s, &action, nullptr);
    ::close(SignalPipe[0]);
    ::close(SignalPipe[1]);
    SignalPipe[0] = SignalPipe[1] = -1;
}

void TTerminationSignals::ReadRequests()
{
    int newest = 0;
    bool terminate = false;
    TSignalNote note{};
    while (::read(SignalPipe[1], &note, sizeof note) == sizeof note) {
        newest = std::max(newest, FRequests.Arrived(note.ArrivalNs));
        terminate = terminate || note.Signal == SIGTERM;
    }
    // SIGTERM comes from the system (a service manager, a logout, a time limit), which
    // waits for no answer and kills the program after its timeout.
    if (terminate || newest > 1)
        FWindow.EndWithoutQuestions();
    else if (newest == 1)
        FWindow.close();
}
