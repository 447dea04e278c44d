#!/usr/bin/python3
"""Speed and memory of quillex-export against a plain numpy yardstick, on one recording.

    bench/export_bench.py [--bin build/bin] [--frames 20000] [--repetitions 5] [--dir DIR]

Records FRAMES frames of the simulated receiver with build/bin/make_recording (once; the
file is kept in DIR), reads it once so that it sits in the page cache, then runs, in turn
and REPETITIONS times each, timing each run by the clock and the child's resource usage:
  - quillex-export FILE --png OUT --fft-exponent 12 --fold 20   (1000 rows)
  - the same with --peaks PEAKS                                 (the rows' 5 strongest peaks)
  - the same with --stats STATS --bands BANDS                   (band statistics of the rows:
        the ten broadcast and citizens' bands of the simulated receiver, 5.1 MHz of the 40;
        and ten bands of 4 MHz that cover the whole spectrum)
  - the same with --average 4, without and with --stats STATS --bands BANDS (broadcast):
        the calling thread then follows the frames, where without averaging the threads
        that transform them measure them
  - quillex-export FILE --png OUT --fft-exponent 12             (default folding: 2)
  - quillex-export FILE --limits LIMITS --events EVENTS --fft-exponent 12
                                       (every frame checked; the limit lies below the
                                        strongest carriers, so every frame is beyond it)
  - bench/numpy_yardstick.py FILE 12                            (Debian's python3-numpy)
and prints the medians of wall time, frames per second, CPU time and peak memory
(maximum resident set size), the yardstick's time over the export's, and what --peaks
and --stats add to the CPU time (each run against the longest run name that begins it). --only REGEX runs only the runs whose names it matches.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(command):
    """Runs command; returns (wall s, cpu s, peak MB) from the clock and the child's rusage."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    error = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(command)}\n{error}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(HERE, "..", "build", "bin"))
    parser.add_argument("--frames", type=int, default=20000)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--dir", default="/tmp/quillex-export-bench")
    parser.add_argument("--only", default="")
    args = parser.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    recording = os.path.join(args.dir, f"sim{args.frames}.spk")
    if not os.path.exists(recording):
        subprocess.run([os.path.join(args.bin, "make_recording"), recording, str(args.frames)],
                       check=True)
    with open(recording, "rb") as f:  # into the page cache
        while f.read(1 << 24):
            pass
    export = os.path.join(args.bin, "quillex-export")
    out = os.path.join(args.dir, "out.png")
    limits = os.path.join(args.dir, "limits.csv")
    with open(limits, "w") as f:
        f.write("MHz,upper_dBm,lower_dBm\n0,-50,\n40,-50,\n")
    broadcast = os.path.join(args.dir, "broadcast-bands.csv")
    with open(broadcast, "w") as f:
        f.write("name,low_MHz,high_MHz\nMW,0.531,1.602\n49m,5.9,6.2\n41m,7.2,7.45\n"
                "31m,9.4,9.9\n25m,11.6,12.1\n22m,13.57,13.87\n19m,15.1,15.8\n"
                "16m,17.48,17.9\n13m,21.45,21.85\nCB,26.96,27.41\n")
    whole = os.path.join(args.dir, "whole-bands.csv")
    with open(whole, "w") as f:
        f.write("".join(f"b{i},{4 * i},{4 * i + 4}\n" for i in range(10)))
    stats = os.path.join(args.dir, "stats.csv")
    fold20 = [export, recording, "--png", out, "--fft-exponent", "12", "--fold", "20", "--quiet"]
    runs = {
        "quillex-export --png, --fft-exponent 12 --fold 20": fold20,
        "quillex-export --png, --fft-exponent 12 --fold 20 --peaks":
            fold20 + ["--peaks", os.path.join(args.dir, "peaks.csv")],
        "quillex-export --png, --fft-exponent 12 --fold 20 --stats, 10 broadcast bands":
            fold20 + ["--stats", stats, "--bands", broadcast],
        "quillex-export --png, --fft-exponent 12 --fold 20 --stats, 10 bands over 40 MHz":
            fold20 + ["--stats", stats, "--bands", whole],
        "quillex-export --png, --fft-exponent 12 --fold 20 --average 4":
            fold20 + ["--average", "4"],
        "quillex-export --png, --fft-exponent 12 --fold 20 --average 4 --stats, 10 broadcast bands":
            fold20 + ["--average", "4", "--stats", stats, "--bands", broadcast],
        "quillex-export --png, --fft-exponent 12 (default fold 2)":
            [export, recording, "--png", out, "--fft-exponent", "12", "--quiet"],
        "quillex-export --limits --events, --fft-exponent 12":
            [export, recording, "--limits", limits, "--events",
             os.path.join(args.dir, "events.csv"), "--fft-exponent", "12", "--quiet"],
        "numpy yardstick (scale, Hann, rfft, magnitude, dBm)":
            ["/usr/bin/python3", os.path.join(HERE, "numpy_yardstick.py"), recording, "12"],
    }
    runs = {name: command for name, command in runs.items() if re.search(args.only, name)}
    results = {name: [] for name in runs}
    for _ in range(args.repetitions):
        for name, command in runs.items():
            results[name].append(timed(command))

    print(f"{args.frames} frames ({os.path.getsize(recording) / 1e6:.0f} MB, page-cached), "
          f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}; "
          f"medians of {args.repetitions}")
    print("| run | wall s | frames/s | CPU s | peak MB |")
    print("|---|---|---|---|---|")
    medians = {}
    cpus = {}
    for name, values in results.items():
        wall = statistics.median(v[0] for v in values)
        cpu = statistics.median(v[1] for v in values)
        peak = statistics.median(v[2] for v in values)
        medians[name] = wall
        cpus[name] = cpu
        print(f"| {name} | {wall:.3f} | {args.frames / wall:,.0f} | {cpu:.3f} | {peak:.0f} |")
    names = list(runs)
    yardstick = "numpy yardstick (scale, Hann, rfft, magnitude, dBm)"
    if yardstick in medians and names[0] != yardstick:
        print(f"numpy / export ({names[0]}), wall: {medians[yardstick] / medians[names[0]]:.1f}x")
    for name in names:
        bases = [base for base in names if name.startswith(base + " --")]
        if bases:
            base = max(bases, key=len)
            print(f"{name[len(base) + 1:]} adds {100 * (cpus[name] / cpus[base] - 1):+.1f} % "
                  f"CPU time to {base}")


if __name__ == "__main__":
    main()
