#!/usr/bin/env bash
# Lays out every C and C++ source of the repository as .clang-format says.
# With --check it changes nothing and fails, naming the places, when a file
# is laid out otherwise (the test run does that).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

# Debian 12's clang-format; other releases lay some constructs out otherwise.
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "format: clang-format is missing (scripts/deps.sh installs it)" >&2
  exit 1
fi

# Build and package folders hold no sources of ours.
mapfile -d '' files < <(find . \( -path ./.git -o -path './build*' -o -path ./dist \) -prune -o \
                          -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if [ "${1:-}" = --check ]; then
  "$format" --dry-run -Werror "${files[@]}"
else
  "$format" -i "${files[@]}"
fi
