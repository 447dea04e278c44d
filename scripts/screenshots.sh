#!/usr/bin/env bash
# Renews the README's pictures in docs/ from the program itself: the main window and the
# plot's bars (quillex-screenshots, offscreen, against the simulated receiver) and the
# export example (a recording of the simulated receiver, exported with quillex-export).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
build_all
bin="$build_dir/bin"
docs="$root_dir/docs"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

QT_QPA_PLATFORM=offscreen "$bin/quillex-screenshots" "$docs"
"$bin/make_recording" "$scratch/example.spk" 1200 20
"$bin/quillex-export" "$scratch/example.spk" --png "$docs/export-example.png" --fft-exponent 9 \
    --fold 4 --fold-mode mean --min-dbm -140 --max-dbm -40
echo "$docs/export-example.png"
