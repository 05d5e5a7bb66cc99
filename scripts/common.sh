# Shared by scripts/run and scripts/test: install what is missing, configure and build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

# qt6-charts-dev: the trend chart
# libyaml-cpp-dev: the exporter's configuration file; zlib1g-dev: its gzip answers;
# libcrypt-dev: its bcrypt checks of basic-auth passwords
BUILD_PACKAGES=(g++ cmake make qt6-base-dev qt6-charts-dev libgl-dev fonts-noto-cjk fontconfig libyaml-cpp-dev zlib1g-dev libcrypt-dev)
# for the exporter's tests only: prometheus (promtool and the server), prometheus-alertmanager
# (its alerts delivered end to end), nut-client (upsc, upsmon against the NUT endpoint),
# openssl (certificates for the TLS tests)
TEST_PACKAGES=(prometheus prometheus-alertmanager nut-client openssl)
# the Debian package (scripts/package) and its test: manual pages from --help, the package's
# dependencies, its checks
PACKAGE_PACKAGES=(help2man dpkg-dev file lintian desktop-file-utils)

# A compiler cache, when the machine has one, with paths taken relative to the tree so that
# clones of it share what was compiled before. Nothing installs it: without it builds are as
# they were.
CACHE_OPTS=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$ROOT"
  CACHE_OPTS=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# Configures build/ and builds the given targets (all of them when none are given).
build_all() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${CACHE_OPTS[@]}" >/dev/null
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake --build "$BUILD" -j"$(nproc)" "${targets[@]}"
}

# The checked builds use clang with its sanitizer and fuzzing run-times.
CHECKED_PACKAGES=(clang libclang-rt-14-dev)

# Configures and builds a checked build in a folder of its own:
#   build_checked DIR SANITIZERS [cmake option...] [-- target...]
build_checked() {
  local dir=$1 sanitizers=$2
  shift 2
  local opts=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do opts+=("$1"); shift; done
  if [ "${1:-}" = "--" ]; then shift; targets=("$@"); fi
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${CACHE_OPTS[@]}" \
    -DPOWERHOST_SANITIZE="$sanitizers" "${opts[@]}" >/dev/null
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
  else
    cmake --build "$dir" -j"$(nproc)"
  fi
}

# Sanitizer settings for everything started from here on, child processes included. Every
# report goes to a file of its own in LOGS, so one from a simulator a test started is kept
# even when the test does not look at how that process ended.
sanitizer_env() {
  local logs=$1
  rm -rf "$logs"
  mkdir -p "$logs"
  export ASAN_OPTIONS="log_path=$logs/asan:detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
  export UBSAN_OPTIONS="log_path=$logs/ubsan:print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
  export TSAN_OPTIONS="log_path=$logs/tsan:second_deadlock_stack=1:suppressions=$ROOT/scripts/tsan.supp"
}

# Prints the reports left in LOGS and fails when there is any.
sanitizer_reports() {
  local logs=$1 files
  files=$(find "$logs" -type f 2>/dev/null | sort)
  if [ -n "$files" ]; then
    for f in $files; do echo "==== $f"; cat "$f"; done
    echo "sanitizer reports: $(echo "$files" | wc -l) (in $logs)"
    return 1
  fi
  echo "sanitizer reports: 0"
}
