#!/usr/bin/env bash
# Installs what is missing, builds, and opens orbex-setup on your display.
# With no arguments it runs the add-on selection ("--mode dlc"); any arguments
# are passed to orbex-setup instead, e.g.  scripts/run.sh --mode update
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" >&2
build="${ORBEX_BUILD_DIR:-$root/build}"
if [ $# -eq 0 ]; then set -- --mode dlc; fi
exec "$build/setup/orbex-setup" "$@"
