#!/usr/bin/env bash
# Checks Quillex as installed under a prefix and runs the installed programs:
#   installed_programs.sh BUILD_DIR PREFIX   an existing install (e.g. /usr from the package)
#   installed_programs.sh BUILD_DIR          first installs BUILD_DIR into a scratch prefix
# BUILD_DIR provides make_recording and the build's quillex-export, whose output the
# installed one must match. Prints one line per failed check; exits 1 if any failed.
set -euo pipefail

build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d)
program=
cleanup() {
    if [ -n "$program" ]; then kill "$program" 2>/dev/null || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT

if [ $# -ge 2 ]; then
    prefix=$2
else
    prefix=$scratch/prefix
    "${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null
fi
prefix=$(cd "$prefix" && pwd -P)
version=$(sed -n 's/^project(Quillex VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
unset QUILLEX_RECEIVER_LIBRARY

checks=0
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: the command must succeed.
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    "$@" || fail "$what"
}
# same DESCRIPTION EXPECTED ACTUAL
same() {
    checks=$((checks + 1))
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

# --- where the files lie
bin=$prefix/bin
# The simulator's private folder: in Debian's multiarch library folder where there is one.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || true)
private=lib/${multiarch:+$multiarch/}quillex
simulator=$prefix/$private/libperseususb.so
desktop=$prefix/share/applications/quillex.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/quillex.svg
man1=$prefix/share/man/man1
doc=$prefix/share/doc/quillex
service=$prefix/lib/systemd/system/quillex-monitor.service
example=$doc/examples/monitor.ini
for file in "$bin/quillex" "$bin/quillex-export" "$bin/quillex-monitor" "$simulator" "$desktop" \
    "$icon" "$man1/quillex.1.gz" "$man1/quillex-export.1.gz" "$man1/quillex-monitor.1.gz" \
    "$service" "$example" "$doc/copyright" "$doc/changelog.Debian.gz"; do
    check "$file is installed" test -f "$file"
done
check "the three are programs" test -x "$bin/quillex" -a -x "$bin/quillex-export" \
    -a -x "$bin/quillex-monitor"
# Beside the program or on the system's library path the simulator would hide a real
# receiver library.
check "no simulator beside the program" test ! -e "$bin/libperseususb.so"
check "the simulator is not in the system's library cache" \
    bash -c "! /sbin/ldconfig -p | grep -q libperseususb"
if [ $# -lt 2 ]; then
    same "files of a fresh install" \
        "bin/quillex bin/quillex-export bin/quillex-monitor lib/systemd/system/quillex-monitor.service $private/libperseususb.so share/applications/quillex.desktop share/doc/quillex/changelog.Debian.gz share/doc/quillex/copyright share/doc/quillex/examples/monitor.ini share/icons/hicolor/scalable/apps/quillex.svg share/man/man1/quillex-export.1.gz share/man/man1/quillex-monitor.1.gz share/man/man1/quillex.1.gz" \
        "$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
fi
for file in "$bin/quillex" "$bin/quillex-export" "$bin/quillex-monitor" "$simulator"; do
    same "run paths of $file" "" "$(readelf -d "$file" | grep -E 'RPATH|RUNPATH' || true)"
done

# --- the desktop entry, the icon and the manual pages
same "desktop entry problems" "" "$(desktop-file-validate "$desktop" 2>&1)"
check "desktop entry is in HamRadio" grep -qE '^Categories=(.*;)?HamRadio;' "$desktop"
check "icon is well-formed SVG" xmllint --noout "$icon"
check "icon is scalable" grep -q 'viewBox=' "$icon"
for page in quillex quillex-export quillex-monitor; do
    same "roff warnings of $page.1" "" "$(zcat "$man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)"
    same "version in $page.1" "1" \
        "$(zcat "$man1/$page.1.gz" | grep -c "^\.TH .*\"Quillex $version\"")"
done
check "quillex.1 names the simulator's folder" \
    bash -c "zcat '$man1/quillex.1.gz' | grep -qF '/usr/$private/libperseususb.so'"

# --- versions, without a display
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
same "quillex --version" "quillex $version" "$("${no_display[@]}" "$bin/quillex" --version)"
for tool in quillex-export quillex-monitor; do
    same "$tool --version" "$tool $version" "$("${no_display[@]}" "$bin/$tool" --version)"
done

# --- every option and exit code of --help is in the manual page
for tool in quillex-export quillex-monitor; do
    help=$("$bin/$tool" --help)
    page=$(zcat "$man1/$tool.1.gz" | sed 's/\\-/-/g')
    options=$(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
    check "$tool --help lists options" test -n "$options"
    # Each option heads an entry of its own (a .B or .BI line), as a whole word: --fold-mode
    # alone does not describe --fold.
    entries=$(grep -E '^\.BI? ' <<<"$page")
    for option in $options; do
        check "$tool.1 describes $option" \
            grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$entries"
    done
    codes=$(sed -n '/^Exit codes:/,$p' <<<"$help" | grep -oE '^ +[0-9]+ ' | tr -d ' ')
    check "$tool --help lists exit codes" test -n "$codes"
    for code in $codes; do
        check "$tool.1 describes exit code $code" \
            grep -qx "\.B $code" <<<"$(sed -n '/^\.SH EXIT STATUS/,/^\.SH [^E]/p' <<<"$page")"
    done
done

# --- the monitor: a few seconds on the simulator without a display, its example config, and
# the service's unit where systemd can check it against the installed program
monitor_out=$scratch/monitor
status=0
(cd "$scratch" && "${no_display[@]}" "$bin/quillex-monitor" --out "$monitor_out" --duration-s 2.5 \
    --stats-interval-s 1 --band a=7:7.3 2>"$scratch/monitor.err") || status=$?
same "exit status of the installed monitor" 0 "$status"
same "simulator notice of the installed monitor" \
    "quillex-monitor: info: simulated receiver: $(realpath "$simulator")" \
    "$(grep -o 'quillex-monitor: info: simulated receiver: .*' "$scratch/monitor.err" || true)"
check "the monitor's statistics have lines" \
    test "$(cat "$monitor_out"/stats/*.csv 2>/dev/null | wc -l)" -ge 2
check "the monitor's day image is a PNG" \
    test "$(head -c 4 "$monitor_out"/waterfall/*.png | od -An -tx1 | tr -d ' \n')" = 89504e47
same "the example config as it is" "" \
    "$("$bin/quillex-monitor" --config "$example" --check-config 2>&1 >/dev/null)"
if [ "$prefix" = /usr ] && command -v systemd-analyze >/dev/null; then
    same "problems of the service's unit" "" "$(systemd-analyze verify --man=no "$service" 2>&1)"
fi

# --- one export with the installed program, the same bytes as the build's
"$build/bin/make_recording" "$scratch/small.spk" 40 20 2>/dev/null
for side in installed built; do
    exporter=$bin/quillex-export
    [ $side = built ] && exporter=$build/bin/quillex-export
    status=0
    "$exporter" "$scratch/small.spk" --png "$scratch/$side.png" --csv "$scratch/$side.csv" \
        --fft-exponent 9 --quiet 2>"$scratch/$side.err" || status=$?
    same "exit status of the $side export" 0 "$status"
done
same "export errors" "" "$(cat "$scratch/installed.err")"
check "installed export's image is the build's" cmp -s "$scratch/installed.png" "$scratch/built.png"
check "installed export's table is the build's" cmp -s "$scratch/installed.csv" "$scratch/built.csv"
same "table rows" 41 "$(wc -l <"$scratch/installed.csv")"
same "image signature" "89504e47" "$(head -c 4 "$scratch/installed.png" | od -An -tx1 | tr -d ' \n')"

# --- the menu entry's command, offscreen: it starts in the home folder and finds the
# simulator in the private folder, and says so
home=$scratch/home
mkdir -p "$home" "$scratch/elsewhere"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
eval "set -- $exec_line"
(cd "$scratch/elsewhere" && HOME=$home PATH="$bin:$PATH" QT_QPA_PLATFORM=offscreen \
    exec "$@" 2>"$scratch/quillex.err") &
program=$!
for _ in $(seq 300); do
    grep -q "simulated receiver" "$scratch/quillex.err" 2>/dev/null && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
same "simulator notice of the installed quillex" \
    "quillex: simulated receiver: $(realpath "$simulator")" \
    "$(grep -o 'quillex: simulated receiver: .*' "$scratch/quillex.err" || true)"
same "working folder of the menu entry's program" "$(realpath "$home")" \
    "$(realpath "/proc/$program/cwd" 2>/dev/null || true)"
kill -TERM "$program" 2>/dev/null || true
status=0
wait "$program" || status=$?
program=
same "exit status of quillex after a termination request" 0 "$status"

echo "installed programs under $prefix: $((checks - failures)) of $checks checks passed"
[ "$failures" -eq 0 ]
