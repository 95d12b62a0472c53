# Shared by the scripts beside it; sourced, not run.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

# Installs with apt-get whatever the build and its tests need and this machine lacks.
# Extra package names may be given.
ensure_packages() {
  local wanted=(cmake make python3 googletest e2fsprogs util-linux osslsigncode
    libxxhash-dev xxhash
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 openssl xvfb locales strace "$@")
  local missing=() package
  for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  # wine32 comes from the i386 architecture.
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# The architecture whose Windows programs Wine can run here. Wine runs 32-bit programs
# through a 32-bit Linux loader, which some kernels cannot execute; there the same sources
# are built and run as 64-bit.
runnable_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
}

# The build folder whose programs run here.
run_dir() {
  if [ "$(runnable_arch)" = x86_64 ]; then echo "$BUILD/x86_64"; else echo "$BUILD"; fi
}

# start_prefix DIR: makes the Wine prefix that the build in DIR runs its programs in, in the
# background, unless it is there; wait_prefix waits for it. On a new prefix Wine's services go
# on starting after wineboot returns, and a program that opens a window meanwhile waits ten
# seconds for them, more than once; made in a session of its own while the build runs, the
# prefix has settled by the time anything runs in it.
start_prefix() {
  PREFIX_PID=
  [ -f "$1/wineprefix/system.reg" ] && return 0
  ("$1/wine-run" wineboot -i && "$1/wine-run" wineserver -w) </dev/null >/dev/null 2>&1 &
  PREFIX_PID=$!
}
wait_prefix() {
  [ -z "$PREFIX_PID" ] || wait "$PREFIX_PID" || true
}

# configure_in DIR ARCH [CMAKE-ARGS...]: configures DIR; build_in also builds it.
configure_in() {
  local dir=$1 arch=$2
  shift 2
  cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$arch-w64-mingw32.cmake" "$@"
}
build_in() {
  configure_in "$@"
  cmake --build "$1" -j"$(nproc)"
}

# The build folder whose programs run here, built, with its Wine prefix made; with tests when
# asked. The 32-bit build in build/ is always made too (with the same arguments), so a fault
# that only the release's architecture has fails here on every machine, whether or not its
# programs can run.
build_runnable() {
  RUN_DIR=$(run_dir)
  local release=()
  [ "$RUN_DIR" = "$BUILD" ] || release=(-DORVEX_RELEASE_EXE="$BUILD/OrvexProChineseOCR.exe")
  configure_in "$RUN_DIR" "$(runnable_arch)" "$@" "${release[@]}"
  start_prefix "$RUN_DIR"
  build_in "$BUILD" i686 "$@"
  if [ "$RUN_DIR" != "$BUILD" ]; then
    echo "NOTE: this machine cannot run 32-bit programs, so what runs here is a 64-bit build"
    echo "      of the same sources; the 32-bit build in $BUILD is compiled but not run."
    build_in "$RUN_DIR" x86_64 "$@" "${release[@]}"
  fi
  wait_prefix
}

# The folder of the payloads the build in DIR embedded.
embedded_payloads() {
  sed -n 's/^ORVEX_EMBEDDED_PAYLOAD_DIR:INTERNAL=//p' "$1/CMakeCache.txt"
}

# record_host DIR HOST: makes HOST a sample host installation (with an empty resource folder)
# and records it in the registry of the prefix of the build in DIR, 64-bit view.
record_host() {
  local dir=$1 host=$2 major
  major=$(sed -n 's/^#define ORVEX_VERSION_MAJOR_TEXT "\(.*\)"/\1/p' "$dir/generated/version.h")
  mkdir -p "$host/IRIS_OCR/resources"
  HOST_KEY="HKLM\\SOFTWARE\\Orvex\\Pro\\$major\\Settings"
  HOST_PATH="Z:$(printf '%s' "$host" | tr / '\\')\\"
  "$dir/wine-run" wineboot -i >/dev/null 2>&1
  "$dir/wine-run" reg add "$HOST_KEY" /v installpath /t REG_SZ /d "$HOST_PATH" /f /reg:64 >/dev/null
}
