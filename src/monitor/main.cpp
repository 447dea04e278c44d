// quillex-monitor: the headless monitor. Everything is in RunMonitor; here the real clock and
// the real free space are chosen.

#include "Monitor.h"

int main(int Argc, char** Argv)
{
    const quillex::monitor::TSystemMonitorClock clock;
    quillex::monitor::TMonitorSeams seams;
    seams.Clock = &clock;
    seams.FreeBytes = quillex::monitor::TOutputWriter::SystemFreeBytes;
    return quillex::monitor::RunMonitor(Argc, Argv, seams);
}
