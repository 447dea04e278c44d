#!/usr/bin/env bash
# The benchmarks' recorder refuses arguments it cannot record with (a rate of 0 divided by
# zero) with exit code 2, a message and no file, and records with good ones:
#   make_recording_arguments.sh BUILD_DIR
set -uo pipefail

recorder=$1/bin/make_recording
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

refused() {
    local what=$1
    shift
    local status=0
    "$recorder" "$scratch/out.spk" "$@" 2>"$scratch/err" || status=$?
    if [ "$status" != 2 ] || ! grep -q "^make_recording: $what must be" "$scratch/err" ||
        [ "$(wc -l <"$scratch/err")" != 1 ] || [ -e "$scratch/out.spk" ]; then
        echo "FAIL: make_recording $* gave exit $status, \"$(cat "$scratch/err")\"" >&2
        failures=$((failures + 1))
    fi
    rm -f "$scratch/out.spk"
}
refused FRAMES_PER_SECOND 3 0
refused FRAMES_PER_SECOND 3 -5
refused FRAMES_PER_SECOND 3 10x
refused FRAMES 0
refused FRAMES many 10
refused OFFSET_MHZ 3 10 one

# A header and three records of 16392 bytes each (stamp and 8192 samples).
if ! "$recorder" "$scratch/out.spk" 3 1 2.5 2>"$scratch/err" ||
    [ "$(stat -c %s "$scratch/out.spk")" != $((4 * 16392)) ]; then
    echo "FAIL: make_recording of 3 frames at 1 a second: $(cat "$scratch/err")" >&2
    failures=$((failures + 1))
fi
if "$recorder" "$scratch/no/such/folder.spk" 3 2>"$scratch/err" ||
    ! grep -q "^make_recording: Cannot create" "$scratch/err"; then
    echo "FAIL: make_recording into a missing folder: $(cat "$scratch/err")" >&2
    failures=$((failures + 1))
fi
exit $((failures > 0))
