#pragma once

#include "MonitorClock.h"
#include "OutputWriter.h"
#include "Station.h"

// The monitor as a program: options and config, the receiver's acquisition, the writer and the
// station view on threads of their own, and the signals (SIGTERM and SIGINT end it cleanly with
// exit code 0, SIGHUP reads the config and limits files again). The clock and the free space are
// seams.
namespace quillex::monitor {

struct TMonitorSeams
{
    const TMonitorClock* Clock = nullptr;
    TOutputWriter::TFreeBytes FreeBytes;
    double RetrySeconds = 10; // between attempts to open a receiver that failed
    // The station view's fixed limits (idle time, MQTT back-off), shorter in tests.
    station::TStationOptions::TLimits StationLimits;
};

// Exit codes: 0 a clean end, 1 a failure (the output folder cannot be used), 2 a bad option,
// config value or limits file, or an address the station view cannot listen on (before the
// receiver is opened).
int RunMonitor(int Argc, const char* const* Argv, const TMonitorSeams& Seams);

} // namespace quillex::monitor
