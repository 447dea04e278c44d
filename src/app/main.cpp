#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "Clock.h"
#include "Prompts.h"
#include "Unit1.h"

namespace {

int TerminateSignalPipe[2] = {-1, -1};

void OnTerminateSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(TerminateSignalPipe[0], &byte, 1);
}

// A termination request (logout, kill) closes the window the normal way, so the
// receiver is switched off and closed before the program ends. The handler is used
// once: a second request ends the program at once, so an unanswered dialog (a start-up
// message, the save question) cannot keep it alive.
void CloseOnTerminateSignal(TForm1& Window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, TerminateSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(TerminateSignalPipe[1], QSocketNotifier::Read, &Window);
    QObject::connect(notifier, &QSocketNotifier::activated, &Window, [&Window] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(TerminateSignalPipe[1], &byte, 1);
        Window.close();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillex"));
    TQtPrompts prompts;
    TSystemClock clock;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    TForm1 window(prompts, clock, args);
    prompts.setParent(&window);
    CloseOnTerminateSignal(window);
    window.show();
    return QApplication::exec();
}
