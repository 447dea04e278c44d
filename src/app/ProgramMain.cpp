#include "ProgramMain.h"

#include <QApplication>

#include "Clock.h"
#include "Prompts.h"
#include "TerminationSignals.h"
#include "Unit1.h"

int RunProgram(TQtPrompts& Prompts, const std::function<void(TForm1&)>& Shown)
{
    TSystemClock clock;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    TForm1 window(Prompts, clock, args);
    Prompts.setParent(&window);
    // A termination request (logout, kill, Ctrl+C) switches the receiver off and closes it
    // before the program ends.
    const TTerminationSignals terminationSignals(window);
    window.show();
    if (Shown)
        Shown(window);
    const int status = QApplication::exec();
    // Whatever ended the event loop, the receiver is left switched off and closed.
    window.EndWithoutQuestions();
    return status;
}
