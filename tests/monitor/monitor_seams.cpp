// quillex-monitor with its seams in the tests' hands: the wall clock runs QX_TEST_CLOCK_FILE's
// seconds ahead of the system's (the file may change while it runs), the disk has
// QX_TEST_FREE_FILE's megabytes free, a receiver is tried again every QX_TEST_RETRY_S, the
// station view closes idle connections after QX_TEST_IDLE_S and backs off from a broker for at
// most QX_TEST_MQTT_RETRY_S.

#include "Monitor.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace {

double FileNumber(const char* Variable, double Default)
{
    const char* file = std::getenv(Variable);
    double value = Default;
    if (file != nullptr)
        if (std::ifstream in(file); !(in >> value))
            value = Default;
    return value;
}

class TSteppedClock : public quillex::monitor::TSystemMonitorClock
{
public:
    double UtcSeconds() const override
    {
        // Read again at most every 20 ms: the monitor asks a few hundred times a second.
        std::lock_guard lock(FMutex);
        const double now = MonotonicSeconds();
        if (now >= FNextRead) {
            FOffset = FileNumber("QX_TEST_CLOCK_FILE", 0);
            FNextRead = now + 0.02;
        }
        return TSystemMonitorClock::UtcSeconds() + FOffset;
    }

private:
    mutable std::mutex FMutex;
    mutable double FOffset = 0, FNextRead = 0;
};

} // namespace

int main(int Argc, char** Argv)
{
    const TSteppedClock clock;
    quillex::monitor::TMonitorSeams seams;
    seams.Clock = &clock;
    seams.FreeBytes = [](const std::string& Path) {
        const double mb = FileNumber("QX_TEST_FREE_FILE", -1);
        return mb < 0 ? quillex::monitor::TOutputWriter::SystemFreeBytes(Path) : int64_t(mb * 1e6);
    };
    const auto seconds = [](const char* Variable, double Default) {
        return std::getenv(Variable) ? std::atof(std::getenv(Variable)) : Default;
    };
    seams.RetrySeconds = seconds("QX_TEST_RETRY_S", 10);
    seams.StationLimits.IdleSeconds = seconds("QX_TEST_IDLE_S", 30);
    seams.StationLimits.MqttRetryMaxSeconds = seconds("QX_TEST_MQTT_RETRY_S", 60);
    return quillex::monitor::RunMonitor(Argc, Argv, seams);
}
