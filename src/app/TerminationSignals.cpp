#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Unit1.h"

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
// [0] is written by the handler, [1] read by the window's thread.
int SignalPipe[2] = {-1, -1};

// A byte per signal; what matters is that one came.
void OnTerminationSignal(int Signal)
{
    const int savedErrno = errno;
    const char note = char(Signal);
    [[maybe_unused]] const auto written = ::write(SignalPipe[0], &note, 1);
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
        sigaddset(&action.sa_mask, s);
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
    char notes[64];
    bool any = false;
    while (::read(SignalPipe[1], notes, sizeof notes) > 0)
        any = true;
    if (any)
        FWindow.EndWithoutQuestions();
}
