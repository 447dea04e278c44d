// The station view under load, end to end: quillex-monitor on the simulated receiver at its
// default pace (150 blocks/s, every block taken, N = 4096), 16 viewers take rows at 10 a second
// for the run, /metrics and /api/status are timed meanwhile, and then headless Chromium opens
// the page five times for its first row. Prints medians and the monitor's own counters; run
// by hand (see the README).
#include "station_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace quillex::station::test;
using Clock = std::chrono::steady_clock;

namespace {

// CPU seconds (user and system) of the process's threads named Name (all threads when empty).
double CpuSeconds(int Pid, const std::string& Name)
{
    long ticks = 0;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(Pid) + "/task")) {
        if (!Name.empty() && ReadFile(task.path() / "comm") != Name + "\n")
            continue;
        const std::string stat = ReadFile(task.path() / "stat");
        std::istringstream rest(stat.substr(stat.rfind(')') + 2)); // fields from the 3rd on
        std::string field;
        for (int i = 3; i <= 15 && rest >> field; ++i)
            if (i >= 14)
                ticks += std::stol(field);
    }
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

double Metric(int Port, const std::string& Name)
{
    std::istringstream text(Request(Port, "/metrics").Body);
    for (std::string line; std::getline(text, line);)
        if (line.rfind(Name + " ", 0) == 0)
            return std::stod(line.substr(Name.size() + 1));
    return -1;
}

double Median(std::vector<double> V)
{
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    const std::string dir = ScratchDir("load");
    // The simulator beside the program, at its own pace.
    unsetenv("QUILLEX_RECEIVER_LIBRARY");
    unsetenv("QUILLEX_SIM_BLOCK_RATE");
    TProcess host({QX_MONITOR, "--out", dir + "/out", "--listen", "127.0.0.1:0", "--fft-exponent",
                   "12", "--frame-rate", "0", "--stats-interval-s", "1", "--band", "b=9.5:10.5"},
                  dir + "/monitor");
    const int port =
        std::atoi(host.Await("quillex-monitor: info: station view on http://127.0.0.1:")
                      .value_or("0")
                      .c_str());
    if (port == 0)
        return std::fprintf(stderr, "the monitor did not start: %s\n", host.Stderr().c_str()), 1;

    // First without viewers, for what they cost the monitor.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double quiet0 = CpuSeconds(host.Pid, ""), acquire0 = CpuSeconds(host.Pid, "qx-acquire");
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds / 2));
    const double quiet = (CpuSeconds(host.Pid, "") - quiet0) / (seconds / 2);
    const double quietAcquire = (CpuSeconds(host.Pid, "qx-acquire") - acquire0) / (seconds / 2);

    constexpr int Viewers = 16;
    std::vector<std::unique_ptr<TViewerClient>> viewers;
    for (int i = 0; i < Viewers; ++i)
        viewers.push_back(std::make_unique<TViewerClient>(port));
    // Viewers read from the start; their rows count from two seconds on, past the first rows.
    const auto start = Clock::now() + std::chrono::seconds(2);
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<int> rows(Viewers, 0);
    std::vector<std::thread> readers;
    for (int i = 0; i < Viewers; ++i)
        readers.emplace_back([&, i] {
            TRow row;
            while (Clock::now() < end && viewers[size_t(i)]->Next(row))
                rows[size_t(i)] += Clock::now() >= start;
        });
    std::this_thread::sleep_until(start);
    const double frames0 = Metric(port, "quillex_frames_total");
    const double server0 = CpuSeconds(host.Pid, "qx-station"), all0 = CpuSeconds(host.Pid, "");
    const double loaded0 = CpuSeconds(host.Pid, "qx-acquire");
    std::vector<double> metricsMs, statusMs;
    while (Clock::now() + std::chrono::milliseconds(100) < end) {
        for (auto [target, times] :
             {std::pair{"/metrics", &metricsMs}, {"/api/status", &statusMs}}) {
            const auto t0 = Clock::now();
            Request(port, target);
            times->push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (auto& r : readers)
        r.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double server = CpuSeconds(host.Pid, "qx-station") - server0;
    const double all = CpuSeconds(host.Pid, "") - all0;
    const double acquire = CpuSeconds(host.Pid, "qx-acquire") - loaded0;
    const double frames = Metric(port, "quillex_frames_total") - frames0;
    const auto [least, most] = std::minmax_element(rows.begin(), rows.end());
    const json status = json::parse(Request(port, "/api/status").Body);
    std::printf("run %.1f s on %s%s: %.1f frames/s, dropped by the monitor %s, refused by the "
                "view %s\n",
                wall, status["receiver"].get<std::string>().c_str(),
                status["simulated"] == true ? " (simulated)" : "", frames / wall,
                status["dropped_frames_total"].dump().c_str(),
                status["refused_frames_total"].dump().c_str());
    std::printf("rows/s per viewer: least %.2f, most %.2f (asked 10)\n", *least / wall,
                *most / wall);
    std::printf("CPU, %% of a core: the view's server thread %.2f; the acquisition thread %.2f "
                "(%.2f without viewers); the whole monitor %.2f (%.2f without viewers)\n",
                100 * server / wall, 100 * acquire / wall, 100 * quietAcquire, 100 * all / wall,
                100 * quiet);
    std::printf("median latency: /metrics %.2f ms, /api/status %.2f ms (%zu requests each)\n",
                Median(metricsMs), Median(statusMs), metricsMs.size());
    viewers.clear();

    std::vector<double> paints;
    for (int i = 0; i < 5; ++i) {
        TBrowser browser("http://127.0.0.1:" + std::to_string(port) + "/", 1280, 800);
        for (int t = 0; t < 100; ++t) {
            const json first = browser.Evaluate("window.quillex ? quillex.firstRowAt : null");
            if (first.is_number()) {
                paints.push_back(first.get<double>());
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    std::printf("page: first row painted %.0f ms after navigation (median of %zu)\n",
                Median(paints), paints.size());
    return 0;
}
