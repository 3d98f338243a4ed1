# Helpers the scripts share. Sourced, never run: `. "$root/scripts/lib.sh"`.
# Every message goes to standard error, prefixed with the sourcing script's name.

log() { printf '%s: %s\n' "$(basename "$0" .sh)" "$*" >&2; }

# --- Debian packages -------------------------------------------------------------
# Installs those of the Debian packages "$@" that are not installed yet.
ensure_packages() {
  local missing=() p status
  for p in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in *" installed") ;; *) missing+=("$p") ;; esac
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  log "installing ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# --- Source packages through a private apt configuration --------------------------
# The sources, lists and cache are ours, in a folder of the dependency cache;
# the machine's apt setup stays untouched. The mirror is the machine's own:
# whatever it installs Debian from (a local mirror, a proxy) serves us too.

# Reads apt sources files (one-line ".list" and deb822 ".sources" forms) and
# prints, as a deb822 stanza, a deb-src entry for the suites `suites` on the
# URIs (and with the Signed-By) of the first enabled entry whose suites hold
# `want`. Other vendors' archives never name a Debian suite, so they never match.
# Exits 1 when no entry matches.
apt_mirror_awk='
function has(list, word,   n, i, a) {
  n = split(list, a, /[ \t]+/)
  for (i = 1; i <= n; i++) if (a[i] == word) return 1
  return 0
}
function emit(uris, signed) {
  print "Types: deb-src"
  print "URIs: " uris
  print "Suites: " suites
  print "Components: main"
  if (signed != "") print "Signed-By: " signed
  found = 1
  exit
}
function end_stanza() {
  if ((has(types, "deb") || has(types, "deb-src")) && has(entry_suites, want) && uris != "" &&
      tolower(enabled) != "no")
    emit(uris, signed)
  types = uris = entry_suites = signed = enabled = field = ""
}
FNR == 1 { end_stanza(); deb822 = FILENAME ~ /\.sources$/ }
deb822 && /^#/ { next }
deb822 && /^[ \t]*$/ { end_stanza(); next }
deb822 && /^[ \t]/ {
  # A continuation line; only a key written into Signed-By keeps its lines.
  if (field == "signed-by") signed = signed "\n" $0
  next
}
deb822 {
  colon = index($0, ":")
  if (!colon) next
  field = tolower(substr($0, 1, colon - 1))
  value = substr($0, colon + 1)
  gsub(/^[ \t]+|[ \t]+$/, "", value)
  if (field == "types") types = value
  else if (field == "uris") uris = value
  else if (field == "suites") entry_suites = value
  else if (field == "signed-by") signed = value
  else if (field == "enabled") enabled = value
  next
}
{
  # deb [option=value ...] uri suite component...
  sub(/#.*/, "")
  if ($1 != "deb" && $1 != "deb-src") next
  i = 2
  options = ""
  if ($2 ~ /^\[/) {
    for (; i <= NF; i++) {
      options = options " " $i
      if ($i ~ /\]$/) { i++; break }
    }
  }
  if (i + 1 > NF || $(i + 1) != want) next
  gsub(/\[|\]/, "", options)
  n = split(options, option, /[ \t]+/)
  key = ""
  for (k = 1; k <= n; k++)
    if (tolower(option[k]) ~ /^signed-by=/) key = substr(option[k], 11)
  emit($i, key)
}
END {
  if (!found) end_stanza()
  exit !found
}'

# Prints the private sources (deb822): deb-src entries for the suites $3 on
# the Debian archive that the apt configuration in folder $1 (normally
# /etc/apt) names for release $2, and for the suites $4, if any, on its
# security archive. Fails, saying so, when no Debian archive is configured;
# without a security archive only the main archive serves.
private_apt_sources() {
  local etc=$1 release=$2 suites=$3 security_suites=${4:-} files=() f
  [ -f "$etc/sources.list" ] && files+=("$etc/sources.list")
  for f in "$etc"/sources.list.d/*; do
    case "$f" in *.list | *.sources) [ -f "$f" ] && files+=("$f") ;; esac
  done
  if [ -z "$release" ] || [ ${#files[@]} = 0 ] ||
     ! awk -v want="$release" -v suites="$suites" "$apt_mirror_awk" "${files[@]}"; then
    log "ERROR: no Debian archive for release '${release:-unknown}' in $etc/sources.list or" \
        "$etc/sources.list.d/ (*.list, *.sources); the source packages come from the mirror" \
        "the machine installs Debian from, so configure one there first"
    return 1
  fi
  if [ -n "$security_suites" ]; then
    echo
    awk -v want="$release-security" -v suites="$security_suites" "$apt_mirror_awk" "${files[@]}" ||
      log "WARNING: no Debian security archive for '$release' in $etc; only the main archive serves"
  fi
}

# private_apt FOLDER SUITES [SECURITY_SUITES] chooses the private apt setup
# that fetch_source uses; its first fetch writes the sources and reads the
# archive's lists.
private_apt() {
  apt_dir=$1
  apt_suites=$2
  apt_security_suites=${3:-}
  apt_ready=0
}

# Downloads source package $1 at version $2 into folder $3; when that version
# is gone from the archive, takes the newest one and says so.
fetch_source() {
  local name=$1 version=$2 dest=$3 release
  local opts=(-o "Dir::Etc::sourcelist=$apt_dir/debian.sources" -o "Dir::Etc::sourceparts=-"
              -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
  if [ "$apt_ready" != 1 ]; then
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    release=$( (. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}") 2>/dev/null || true)
    private_apt_sources /etc/apt "$release" "$apt_suites" "$apt_security_suites" \
      >"$apt_dir/debian.sources" || return 1
    apt-get "${opts[@]}" update -qq >&2 || return 1
    apt_ready=1
  fi
  mkdir -p "$dest"
  if ! (cd "$dest" && apt-get "${opts[@]}" source --download-only "$name=$version" >&2); then
    log "WARNING: $name $version is no longer in the archive; taking the newest version instead"
    (cd "$dest" && apt-get "${opts[@]}" source --download-only "$name" >&2)
  fi
}

# Fetches source package $1 at version $2 (fetch_source) into folder
# $3/download and unpacks its upstream tarball into $3/src.
unpack_source() {
  local name=$1 version=$2 root=$3
  fetch_source "$name" "$version" "$root/download" || return 1
  mkdir -p "$root/src"
  tar -xf "$root/download/${name}"_*.orig.tar.xz -C "$root/src" --strip-components=1
}

# --- SDL3 ---------------------------------------------------------------------------
# Builds SDL3 from source folder $1 into $2/build and installs it into
# $2/prefix: a shared library without the parts our programs leave unused
# (audio, camera). Further arguments go to CMake's configure step, after ours.
build_sdl3() {
  local src=$1 dest=$2
  shift 2
  cmake -S "$src" -B "$dest/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$dest/prefix" -DSDL_SHARED=ON -DSDL_STATIC=OFF \
    -DSDL_TESTS=OFF -DSDL_EXAMPLES=OFF -DSDL_INSTALL_TESTS=OFF -DSDL_AUDIO=OFF -DSDL_CAMERA=OFF \
    "$@" >&2 &&
    cmake --build "$dest/build" -j "$(nproc 2>/dev/null || echo 4)" >&2 &&
    cmake --install "$dest/build" >&2
}

# --- X server for the tests and benchmarks ----------------------------------------
# Starts an Xvfb of our own and exports DISPLAY for it. Xvfb chooses a free
# display itself and names it once it accepts connections (-displayfd), so
# two runs never race for one display's lock file. Its log goes to
# $1/xvfb.log; xvfb_pid names the server for stop_xvfb.
xvfb_pid=
start_xvfb() {
  local folder=$1 display=
  mkfifo "$folder/xvfb.display" || return 1
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    3>"$folder/xvfb.display" >"$folder/xvfb.log" 2>&1 &
  xvfb_pid=$!
  # The number comes when the server listens; end of file when it died first.
  read -r -t 30 display <"$folder/xvfb.display" || true
  rm -f "$folder/xvfb.display"
  if [ -z "$display" ]; then
    log "ERROR: Xvfb did not start:"
    cat "$folder/xvfb.log" >&2
    stop_xvfb
    return 1
  fi
  export DISPLAY=":$display"
}

stop_xvfb() {
  [ -n "$xvfb_pid" ] || return 0
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
}
