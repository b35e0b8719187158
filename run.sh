#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./run.sh demo   set up, build, start the fee server with demo data and open the editor
#   ./run.sh test   set up, build, run every test (plain and under ASan+UBSan), then
#                   fuzz each libFuzzer target for 60 s (HARNOLFEES_FUZZ_SECONDS)
# Other verbs: setup, build, bench (bench/REPORT.md), fuzz [SECONDS] (each libFuzzer
# target, default 60 s), coverage (line and branch coverage of src/), prove (test,
# then bench, then coverage: all the evidence in one go).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
jobs="$(nproc 2>/dev/null || echo 2)"

packages=(build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev libcurl4-openssl-dev libcpp-httplib-dev libsqlite3-dev libssl-dev
  libpq-dev postgresql postgresql-common
  qt6-base-dev xvfb xauth
  clang libclang-rt-14-dev gcovr python3)

setup() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

configure_and_build() {  # build-dir [cmake args...]
  local dir="$1"
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build() { configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo; }

run_tests() {
  setup
  build
  echo "== tests =="
  (cd build && ctest --output-on-failure -j "$jobs" --timeout 300)
  echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
  configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DHARNOLFEES_SANITIZE=ON \
    -DHARNOLFEES_BUILD_BENCH=OFF -DHARNOLFEES_BUILD_QT=OFF
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs" --timeout 600)
  echo "== fuzzing: every libFuzzer target for ${HARNOLFEES_FUZZ_SECONDS:-60} s =="
  fuzz/run.sh "${HARNOLFEES_FUZZ_SECONDS:-60}"
}

demo() {
  setup
  build
  local state="${XDG_STATE_HOME:-$HOME/.local/state}/harnolfees"
  mkdir -p "$state"
  local db="$state/demo.db" log="$state/server.log"
  ./build/server/harnolfees-server --db "$db" --listen 127.0.0.1:0 --demo >"$log" 2>&1 &
  local server=$!
  trap 'kill $server 2>/dev/null || true' EXIT
  local port=""
  for _ in $(seq 1 100); do
    port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -n1)"
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$log"; echo "the fee server did not start" >&2; exit 1; }
  local url="http://127.0.0.1:$port/"
  echo "Fee server with demo data at $url (database $db)"
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/qt/harnolfees-gui ]; then
    ./build/qt/harnolfees-gui --url "$url" --center 1
  else
    ./build/apps/harnolfees show "$url" 1
    echo
    echo "No display here. On a desktop, the same command opens the editor window;"
    echo "or run: ./build/qt/harnolfees-gui --url $url --center 1"
  fi
}

case "${1:-}" in
  setup) setup ;;
  build) setup && build ;;
  test) run_tests ;;
  demo) demo ;;
  bench)
    setup
    configure_and_build build-release -DCMAKE_BUILD_TYPE=Release -DHARNOLFEES_BUILD_QT=OFF
    exec bench/report build-release
    ;;
  fuzz) setup && exec fuzz/run.sh "${2:-60}" ;;
  coverage) setup && exec tools/coverage.sh ;;
  prove)
    run_tests
    configure_and_build build-release -DCMAKE_BUILD_TYPE=Release -DHARNOLFEES_BUILD_QT=OFF
    bench/report build-release
    exec tools/coverage.sh
    ;;
  *)
    echo "usage: $0 demo|test|setup|build|bench|fuzz [SECONDS]|coverage|prove" >&2
    exit 2
    ;;
esac
