#!/usr/bin/env bash
# The private apt sources of scripts/lib.sh take the machine's own Debian
# mirror from apt configurations written in both forms, skip other vendors'
# archives and disabled entries, and fail plainly when none is configured.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
failures=0

# expect NAME EXPECTED_STATUS EXPECTED_OUTPUT -- ARGS of private_apt_sources
expect() {
  local name=$1 status=$2 expected=$3 output actual_status
  shift 4
  output=$(private_apt_sources "$@" 2>"$scratch/stderr")
  actual_status=$?
  if [ "$actual_status" != "$status" ] || [ "$output" != "$expected" ]; then
    printf 'FAIL %s: status %s (expected %s), output:\n%s\nexpected:\n%s\nstderr:\n%s\n' \
      "$name" "$actual_status" "$status" "$output" "$expected" "$(cat "$scratch/stderr")"
    failures=$((failures + 1))
  fi
}

# deb822: another vendor first, a disabled Debian entry, then the archive and
# its security archive, the latter with a key written into Signed-By.
etc="$scratch/deb822"
mkdir -p "$etc/sources.list.d"
cat >"$etc/sources.list.d/a-vendor.sources" <<'EOF'
Types: deb
URIs: https://vendor.example/node
Suites: nodistro
Components: main
Signed-By: /usr/share/keyrings/vendor.gpg
EOF
# A key written into Signed-By, on continuation lines.
key=" -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPR8lsD3K87ZM18gzyQZJD+w
 -----END PGP PUBLIC KEY BLOCK-----"
cat >"$etc/sources.list.d/debian.sources" <<EOF
# the old mirror
Types: deb
URIs: http://old.example/debian
Suites: bookworm
Components: main
Enabled: no

types: deb deb-src
# the mirror in use
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://mirror.example/debian-security
Suites: bookworm-security
Components: main
Signed-By:
$key
EOF
# Not a sources file, so apt ignores it; so must we.
printf 'deb http://wrong.example/debian bookworm main\n' >"$etc/sources.list.d/b-old.list.disabled"
archive() {
  printf 'Types: deb-src\nURIs: http://mirror.example/debian\nSuites: %s\nComponents: main\n' "$1"
  printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg'
}
expect deb822_archive 0 "$(archive "trixie sid")" -- "$etc" bookworm "trixie sid"
expect deb822_with_security 0 "$(archive bookworm)

Types: deb-src
URIs: http://mirror.example/debian-security
Suites: bookworm-security
Components: main
Signed-By: 
$key" -- "$etc" bookworm bookworm bookworm-security

# One-line form: options in brackets, a vendor list whose suite only
# contains the release name, a commented-out entry.
etc="$scratch/one-line"
mkdir -p "$etc/sources.list.d"
cat >"$etc/sources.list" <<'EOF'
# deb http://old.example/debian bookworm main
deb [ arch=amd64 signed-by=/etc/keys/debian.gpg ] http://mirror.example/debian bookworm main non-free-firmware
deb http://security.mirror.example/debian-security bookworm-security main # security
EOF
printf 'deb https://vendor.example/apt cloud-sdk-bookworm main\n' >"$etc/sources.list.d/vendor.list"
expect one_line 0 "Types: deb-src
URIs: http://mirror.example/debian
Suites: bookworm
Components: main
Signed-By: /etc/keys/debian.gpg

Types: deb-src
URIs: http://security.mirror.example/debian-security
Suites: bookworm-security
Components: main" -- "$etc" bookworm bookworm bookworm-security

# Only other vendors' archives, or no release name: a clear failure.
etc="$scratch/none"
mkdir -p "$etc/sources.list.d"
cp "$scratch/deb822/sources.list.d/a-vendor.sources" "$etc/sources.list.d/"
expect none_configured 1 "" -- "$etc" bookworm "trixie sid"
grep -q "no Debian archive for release 'bookworm'" "$scratch/stderr" ||
  { echo "FAIL none_configured: no clear message"; failures=$((failures + 1)); }
expect no_release 1 "" -- "$scratch/deb822" "" "trixie sid"

[ "$failures" = 0 ] || exit 1
echo "apt sources: ok"
