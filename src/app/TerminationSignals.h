#pragma once

#include <QObject>

class QSocketNotifier;
class TForm1;

// Turns SIGTERM, SIGINT and SIGHUP into a request to end, handled on the window's thread:
// each ends at once without questions (TForm1::EndWithoutQuestions: the settings file stays
// as it is), which still switches the receiver off and closes the recordings. Whoever sends
// them (a service manager, a terminal's Ctrl+C or hang-up) waits on no dialog. The handlers
// stay installed, so no signal can end the program past these steps. One object per
// process, created after the window and destroyed before it.
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
};
