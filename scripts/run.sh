#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillex against the receiver
# library next to the program (the simulated receiver unless replaced).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
build_all
exec "$build_dir/bin/quillex" "$@"
