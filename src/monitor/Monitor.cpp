#include "Monitor.h"

#include "Acquisition.h"
#include "LimitFile.h"
#include "MonitorLog.h"
#include "MonitorOptions.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

#ifndef QUILLEX_VERSION
#define QUILLEX_VERSION "unknown"
#endif

namespace quillex::monitor {

namespace {

constexpr int Usage = 2;
constexpr int Failure = 1;

std::string WorkingFolder()
{
    char path[4096];
    return ::getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string(".");
}

// The settings of the files and the command line and the limits they name. An empty text, or
// the one line saying what is wrong.
std::string Resolve(const TCommandLine& Line, TMonitorSettings& Settings, TLimits& Limits)
{
    TMonitorSettings s;
    if (std::string error = ResolveSettings(Line, s); !error.empty())
        return error;
    TLimits limits;
    if (!s.LimitsFile.empty()) {
        try {
            limits = ReadLimitsFile(s.LimitsFile);
        } catch (const ELimitFileError& e) {
            return e.what();
        }
    }
    Settings = s;
    Limits = limits;
    return {};
}

void StationLog(station::TLogLevel Level, const std::string& Text)
{
    Log(Level == station::TLogLevel::Info      ? TLogLevel::Info
        : Level == station::TLogLevel::Warning ? TLogLevel::Warning
                                               : TLogLevel::Error,
        Text);
}

std::string Summary(const TMonitorSettings& S)
{
    char text[256];
    std::snprintf(
        text, sizeof text, "N = %d, %s, averaging %d, %d frames/s, %zu band%s every %g s%s%s%s",
        1 << S.Exponent, WindowName(S.Window), S.Averaging, S.FrameRate, S.Bands.size(),
        S.Bands.size() == 1 ? "" : "s", S.StatsIntervalS, S.LimitsFile.empty() ? "" : ", limits",
        S.RecordOnAlarm ? ", recording on alarm" : "", S.RecordAll ? ", recording everything" : "");
    return text;
}

// SIGHUP: the config and the limits files again. A file that does not parse keeps what was in
// force, with one line; the output folder, the firmware folder and debug mode stay as started.
void Reload(const TCommandLine& Line, std::shared_ptr<const TMonitorSettings>& Settings,
            TLimits& Limits, TAcquisition& Acquisition)
{
    TMonitorSettings s;
    std::string error = ResolveSettings(Line, s);
    if (!error.empty()) {
        LogError("SIGHUP: " + error + "; the settings in force stay");
        s = *Settings;
    } else {
        if (s.Out != Settings->Out || s.FirmwareDir != Settings->FirmwareDir ||
            s.Debug != Settings->Debug)
            LogWarning("SIGHUP: the output folder, the firmware folder and debug mode stay as "
                       "started");
        if (s.Station != Settings->Station)
            LogWarning("SIGHUP: the station view's options stay as started");
        s.Out = Settings->Out;
        s.FirmwareDir = Settings->FirmwareDir;
        s.Debug = Settings->Debug;
        s.Station = Settings->Station;
        s.TokenFile = Settings->TokenFile;
    }
    TLimits limits = Limits;
    if (!s.LimitsFile.empty()) {
        try {
            limits = ReadLimitsFile(s.LimitsFile);
        } catch (const ELimitFileError& e) {
            LogError(std::string("SIGHUP: ") + e.what() + "; the limits in force stay");
        }
    } else {
        limits = {};
    }
    Settings = std::make_shared<const TMonitorSettings>(s);
    Limits = limits;
    Acquisition.Reconfigure(Settings, Limits);
    LogInfo("SIGHUP: " + Summary(s));
}

} // namespace

int RunMonitor(int Argc, const char* const* Argv, const TMonitorSeams& Seams)
{
    TCommandLine line;
    if (std::string error = ParseCommandLine(Argc, Argv, line); !error.empty()) {
        LogError(error);
        return Usage;
    }
    if (line.Help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (line.Version) {
        std::printf("quillex-monitor %s\n", QUILLEX_VERSION);
        return 0;
    }
    line.Folder = WorkingFolder();
    TMonitorSettings settings;
    TLimits limits;
    if (std::string error = Resolve(line, settings, limits); !error.empty()) {
        LogError(error);
        return Usage;
    }
    if (line.CheckConfig) {
        std::fputs(SettingsText(settings).c_str(), stdout);
        return 0;
    }
    if (!settings.FirmwareDir.empty() && ::chdir(settings.FirmwareDir.c_str()) != 0) {
        LogError("--firmware-dir: cannot use " + settings.FirmwareDir + ": " +
                 std::strerror(errno));
        return Usage;
    }

    // The signals are taken by this thread alone, between its waits; the others never see them.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    TOutputQueue queue;
    TOutputWriter writer(settings.Out, queue, *Seams.Clock, Seams.FreeBytes);
    if (std::string error = writer.Prepare(); !error.empty()) {
        LogError(error);
        return Failure;
    }
    // The station view before the acquisition, which feeds it, and stopped after it.
    std::unique_ptr<station::TStation> view;
    if (!settings.Station.ListenHost.empty() || !settings.Station.MqttHost.empty()) {
        view = std::make_unique<station::TStation>(StationLog);
        station::TStationOptions options = settings.Station;
        options.Limits = Seams.StationLimits;
        if (!view->Start(options))
            return Usage;
    }
    auto current = std::make_shared<const TMonitorSettings>(settings);
    LogInfo("started: " + Summary(settings) + ", writing to " + settings.Out);
    writer.Start(current);
    TAcquisition acquisition(queue, *Seams.Clock, Seams.RetrySeconds, view.get());
    acquisition.Start(current, limits);

    while (!acquisition.Ended()) {
        const timespec wait{0, 100'000'000};
        const int signal = sigtimedwait(&signals, nullptr, &wait);
        if (signal == SIGHUP) {
            Reload(line, current, limits, acquisition);
        } else if (signal == SIGTERM || signal == SIGINT) {
            LogInfo(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
            break;
        }
    }
    acquisition.Stop();
    acquisition.Join();
    if (view)
        view->Stop();
    writer.Join();
    const int64_t refused = queue.RefusedFrames();
    LogInfo("stopped after " + std::to_string(acquisition.Frames()) + " frames" +
            (refused > 0 ? ", " + std::to_string(refused) + " of them not recorded" : ""));
    return 0;
}

} // namespace quillex::monitor
