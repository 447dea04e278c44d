#!/usr/bin/env bash
# Installs what the build needs (only what is missing) and builds into build/.
set -euo pipefail

PACKAGES=(build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev fonts-liberation2 zlib1g-dev
          # The monitor: its images' text and reading back the day's image; bc for its soak.
          libfreetype-dev libpng-dev bc
          # The Debian package (dpkg-shlibdeps and file for cpack's dependencies) and the
          # install check (checkers of the desktop entry, the icon and the manual pages).
          dpkg-dev file desktop-file-utils libxml2-utils groff-base
          # Qt's own translations: buttons and dialogs in the user's language.
          qt6-translations-l10n
          # The monitor's station view: HTTP and WebSocket (Boost.Beast, header-only), JSON,
          # MQTT.
          libboost-dev nlohmann-json3-dev libmosquitto-dev)
# What only the tests need: the station view's tests start a broker and its client, check
# the metrics with promtool and load the page in headless Chromium.
TEST_PACKAGES=(mosquitto mosquitto-clients prometheus chromium python3)
# The reliability checks of .ci/run: clang with its sanitizer and fuzzer run-time
# libraries, the symbolizer that turns their reports into file names and lines, and
# Debian's package checker.
CHECK_PACKAGES=(clang libclang-rt-14-dev llvm-14 lintian)

root_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root_dir/build"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# install_missing [package...]: the given packages, or PACKAGES when none are given.
install_missing() {
    local wanted=("$@")
    [ ${#wanted[@]} -gt 0 ] || wanted=("${PACKAGES[@]}")
    local missing=()
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" </dev/null
    fi
}

build_all() {
    cmake -S "$root_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build_dir" -j "$(nproc)"
}
