#!/usr/bin/env bash
# Installs what is missing, builds everything (benchmarks included) and runs
# the whole test suite.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
build_all
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
