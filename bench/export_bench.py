#!/usr/bin/python3
"""Speed and memory of quillex-export against a plain numpy yardstick, on one recording.

    bench/export_bench.py [--bin build/bin] [--frames 20000] [--repetitions 5] [--dir DIR]

Records FRAMES frames of the simulated receiver with build/bin/make_recording (once; the
file is kept in DIR), reads it once so that it sits in the page cache, then runs, in turn
and REPETITIONS times each, under /usr/bin/time -v:
  - quillex-export FILE --png OUT --fft-exponent 12 --fold 20   (1000 rows)
  - quillex-export FILE --png OUT --fft-exponent 12             (default folding: 2)
  - bench/numpy_yardstick.py FILE 12                            (Debian's python3-numpy)
and prints the medians of wall time, frames per second, CPU time and peak memory
(maximum resident set size), and the yardstick's time over the export's.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(command):
    """Runs command under /usr/bin/time -v; returns (wall s, cpu s, peak MB)."""
    result = subprocess.run(["/usr/bin/time", "-v"] + command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"failed: {' '.join(command)}\n{result.stderr}")
    text = result.stderr
    clock = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", text).group(1)
    wall = 0.0
    for part in clock.split(":"):
        wall = wall * 60 + float(part)
    user = float(re.search(r"User time \(seconds\): (\S+)", text).group(1))
    system = float(re.search(r"System time \(seconds\): (\S+)", text).group(1))
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1)) / 1024
    return wall, user + system, peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(HERE, "..", "build", "bin"))
    parser.add_argument("--frames", type=int, default=20000)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--dir", default="/tmp/quillex-export-bench")
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
    runs = {
        "quillex-export --png, --fft-exponent 12 --fold 20":
            [export, recording, "--png", out, "--fft-exponent", "12", "--fold", "20", "--quiet"],
        "quillex-export --png, --fft-exponent 12 (default fold 2)":
            [export, recording, "--png", out, "--fft-exponent", "12", "--quiet"],
        "numpy yardstick (scale, Hann, rfft, magnitude, dBm)":
            ["/usr/bin/python3", os.path.join(HERE, "numpy_yardstick.py"), recording, "12"],
    }
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
    for name, values in results.items():
        wall = statistics.median(v[0] for v in values)
        cpu = statistics.median(v[1] for v in values)
        peak = statistics.median(v[2] for v in values)
        medians[name] = wall
        print(f"| {name} | {wall:.2f} | {args.frames / wall:,.0f} | {cpu:.2f} | {peak:.0f} |")
    yardstick = medians["numpy yardstick (scale, Hann, rfft, magnitude, dBm)"]
    first = next(iter(medians.values()))
    print(f"numpy / export (fold 20), wall: {yardstick / first:.1f}x")


if __name__ == "__main__":
    main()
