#!/usr/bin/env bash
# Installs what the build needs (only what is missing) and builds into build/.
set -euo pipefail

PACKAGES=(build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev fonts-liberation2 zlib1g-dev
          # The monitor: its images' text and reading back the day's image; bc for its soak.
          libfreetype-dev libpng-dev bc
          # The Debian package (dpkg-shlibdeps and file for cpack's dependencies) and the
          # install check (checkers of the desktop entry, the icon and the manual pages).
          dpkg-dev file desktop-file-utils libxml2-utils groff-base)
# The reliability checks of .ci/run: clang with its sanitizer and fuzzer run-time
# libraries, and the symbolizer that turns their reports into file names and lines.
CHECK_PACKAGES=(clang libclang-rt-14-dev llvm-14)

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
