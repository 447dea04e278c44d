#!/usr/bin/env bash
# A long run of quillex-monitor on the simulated receiver at its default pace (every block, 150
# a second): statistics every second, every frame recorded under a disk budget of 50 MB.
# Checks that its memory stays flat (within 2 % once warmed up), that its recordings stay
# within the budget, and that SIGTERM ends it with exit code 0 within 2 s.
#   monitor_soak.sh [SECONDS] [BUILD_DIR]      (default 3600 s and build/)
# Prints a line per sample and a summary; exits 1 when a check fails.
set -euo pipefail
root_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-3600}
build=${2:-$root_dir/build}
budget_mb=50
out=$(mktemp -d)
monitor=
cleanup() {
    if [ -n "$monitor" ]; then kill -9 "$monitor" 2>/dev/null || true; fi
    rm -rf "$out"
}
trap cleanup EXIT

unset QUILLEX_SIM_BLOCK_RATE QUILLEX_RECEIVER_LIBRARY DISPLAY QT_QPA_PLATFORM
"$build/bin/quillex-monitor" --out "$out" --stats-interval-s 1 --record-all --frame-rate 0 \
    --disk-budget-mb "$budget_mb" --min-free-mb 0 --band a=7:7.3 --band b=14:14.35 \
    2>"$out.log" &
monitor=$!

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$monitor/status"; }
# The monitor's own recordings, in bytes.
recorded() {
    find "$out/recordings" "$out/alarms" -type f -name '*.spk' -printf '%s\n' 2>/dev/null |
        awk '{ total += $1 } END { print total + 0 }'
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# Memory counts once the first recording parts and the day's image are made.
warm=$((seconds / 5 < 30 ? (seconds < 60 ? seconds / 3 : 30) : seconds / 5))
step=$((seconds >= 600 ? 60 : 5))
low=0
high=0
most=0
for ((t = step; t <= seconds; t += step)); do
    sleep "$step"
    kill -0 "$monitor" 2>/dev/null || { fail "the monitor ended by itself after $t s"; break; }
    now=$(rss)
    bytes=$(recorded)
    most=$((bytes > most ? bytes : most))
    echo "$t s: resident ${now} kB, recordings $((bytes / 1000000)) MB"
    if [ "$t" -ge "$warm" ]; then
        low=$((low == 0 || now < low ? now : low))
        high=$((now > high ? now : high))
    fi
    [ "$bytes" -le $((budget_mb * 1000000)) ] || fail "recordings of $bytes bytes after $t s"
done

start=$(date +%s.%N)
kill -TERM "$monitor"
status=0
wait "$monitor" || status=$?
monitor=
took=$(echo "$(date +%s.%N) - $start" | bc)
[ "$status" -eq 0 ] || fail "exit code $status on SIGTERM"
(($(echo "$took < 2" | bc))) || fail "SIGTERM took $took s"
if [ "$low" -gt 0 ]; then
    growth=$(echo "scale=2; 100 * ($high - $low) / $low" | bc)
    (($(echo "$growth <= 2" | bc))) || fail "resident memory grew by $growth % (from $low to $high kB)"
else
    growth=unknown
fi
grep -q "error:" "$out.log" && fail "errors logged: $(grep "error:" "$out.log" | head -3)"
lines=$(cat "$out"/stats/*.csv | grep -vc '^time,' || true)
echo "--- soak: $seconds s, resident $low..$high kB after ${warm} s (growth $growth %)," \
    "recordings at most $((most / 1000000)) MB of $budget_mb, $lines statistics lines," \
    "SIGTERM: exit code $status in $took s"
rm -f "$out.log"
[ "$failures" -eq 0 ]
