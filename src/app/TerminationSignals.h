#pragma once

#include <QObject>

#include "TerminationRequests.h"

class QSocketNotifier;
class TForm1;

// Turns SIGTERM, SIGINT and SIGHUP into requests to end, handled on the window's thread.
// SIGTERM, and any request after the first, ends at once without questions
// (TForm1::EndWithoutQuestions: the settings file stays as it is), which still switches
// the receiver off and closes a recording; a first SIGINT or SIGHUP closes the window the
// normal way (the save question included). The handlers stay installed, so no signal can
// end the program past these steps. One object per process, created after the window and
// destroyed before it.
class TTerminationSignals : public QObject
{
public:
    explicit TTerminationSignals(TForm1& Window);
    ~TTerminationSignals() override;

    // False when the signals could not be routed (the system's default actions stay).
    bool Installed() const { return FNotifier != nullptr; }

private:
    void ReadRequests();

    TForm1& FWindow;
    QSocketNotifier* FNotifier = nullptr;
    TTerminationRequests FRequests;
};
