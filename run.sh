#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./run.sh demo   set up, build, start the fee server with demo data and open the editor
#                   (without a display: print every tab); the server stops when it ends
#   ./run.sh demo --web   the same server with the browser editor in front: prints its
#                   address (and opens it where a browser exists) until Ctrl+C
#   ./run.sh test   set up, build, run every test (plain and under ASan+UBSan), then
#                   fuzz each libFuzzer target for 45 s (HARNOLFEES_FUZZ_SECONDS)
# Other verbs: setup, build, bench (bench/REPORT.md), fuzz [SECONDS] (each libFuzzer
# target, default 60 s), coverage (line and branch coverage of src/), prove (test,
# then bench, then coverage: all the evidence in one go), screenshots (the README's
# pictures of the editor, from a demo server on a temporary database, no display needed).
# HARNOLFEES_BUILD_DIR names the build directory of build, test, demo and screenshots
# (default build).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
jobs="$(nproc 2>/dev/null || echo 2)"
build_dir="${HARNOLFEES_BUILD_DIR:-build}"

packages=(build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev libcurl4-openssl-dev libcpp-httplib-dev libboost-dev libsqlite3-dev libssl-dev
  libpq-dev postgresql postgresql-common openssl
  qt6-base-dev xvfb xauth
  clang libclang-rt-14-dev gcovr python3
  chromium chromium-driver python3-selenium firefox-esr python3-websocket)

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

build() { configure_and_build "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo; }

# Only the programs: the driver, the fee server and, when Qt 6 is there, the editor.
build_programs() {
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  local targets=(harnolfees harnolfees-server harnolfees-web)
  if cmake --build "$build_dir" --target help | grep -q '^harnolfees-gui:'; then
    targets+=(harnolfees-gui)
  fi
  cmake --build "$build_dir" -j "$jobs" --target "${targets[@]}"
}

# The fee server of demo and screenshots: started by start_server, stopped on
# every exit of this script (normal end, failure, Ctrl+C, kill).
server_pid=""
server_url=""
scratch=""
stop_server() {
  if [ -n "${web_pid:-}" ]; then
    kill "$web_pid" 2>/dev/null || true
    wait "$web_pid" 2>/dev/null || true
    web_pid=""
  fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
  if [ -n "$scratch" ]; then
    rm -rf "$scratch"
    scratch=""
  fi
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

start_server() {  # database log: sets server_url
  "$build_dir/server/harnolfees-server" --db "$1" --listen 127.0.0.1:0 --demo >"$2" 2>&1 &
  server_pid=$!
  local port=""
  for _ in $(seq 1 100); do
    port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$2" | head -n1)"
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$2" >&2; echo "the fee server did not start" >&2; exit 1; }
  server_url="http://127.0.0.1:$port/"
}

run_tests() {
  setup
  build
  echo "== tests =="
  (cd "$build_dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
  echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
  configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DHARNOLFEES_SANITIZE=ON \
    -DHARNOLFEES_BUILD_BENCH=OFF -DHARNOLFEES_BUILD_QT=OFF
  # The Firefox scenarios check the page in a second browser; the web host
  # under the sanitizers is already driven by the Chromium ones.
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs" --timeout 600 -E '^web_firefox_')
  # The test run searches from a fixed seed, so that what it finds can be
  # found again; ./run.sh fuzz searches anew each time.
  echo "== fuzzing: every libFuzzer target for ${HARNOLFEES_FUZZ_SECONDS:-45} s =="
  HARNOLFEES_FUZZ_SEED="${HARNOLFEES_FUZZ_SEED:-1}" fuzz/run.sh "${HARNOLFEES_FUZZ_SECONDS:-45}"
}

# The browser editor in front of the fee server of demo and screenshots, with a
# users file of its own (user demo, password demo, every center).
web_pid=""
web_url=""
start_web() {  # state-dir
  local users="$1/web-users.txt"
  echo demo | "$build_dir/server/harnolfees-server" --hash-password demo '*' '*' >"$users"
  "$build_dir/server/harnolfees-server" --db "$1/demo.db" --listen 127.0.0.1:0 --demo \
    --users "$users" >"$1/server.log" 2>&1 &
  server_pid=$!
  local port="" line=""
  for _ in $(seq 1 100); do
    port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$1/server.log" | head -n1)"
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$1/server.log" >&2; echo "the fee server did not start" >&2; exit 1; }
  server_url="http://127.0.0.1:$port/"
  "$build_dir/apps/harnolfees-web/harnolfees-web" --fee-server "http://127.0.0.1:$port/" \
    --listen "127.0.0.1:${HARNOLFEES_WEB_PORT:-0}" ${2:+--server-date "$2"} >"$1/web.log" 2>&1 &
  web_pid=$!
  for _ in $(seq 1 100); do
    line="$(sed -n 's|.*listening on \(http://127\.0\.0\.1:[0-9]*/\).*|\1|p' "$1/web.log" 2>/dev/null | head -n1 || true)"
    [ -n "$line" ] && break
    sleep 0.1
  done
  [ -n "$line" ] || { cat "$1/web.log" >&2; echo "the web editor did not start" >&2; exit 1; }
  web_url="$line"
}

demo() {
  setup
  build_programs
  local state="${XDG_STATE_HOME:-$HOME/.local/state}/harnolfees"
  mkdir -p "$state"
  local db="$state/demo.db"
  if [ "${1:-}" = "--web" ]; then
    start_web "$state"
    echo "The fee editor in the browser: $web_url  (user demo, password demo, center 1)"
    echo "Fee server with demo data at $server_url (database $db). Ctrl+C stops both."
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xdg-open >/dev/null; then
      xdg-open "$web_url" >/dev/null 2>&1 || true
    fi
    wait "$web_pid"
    return
  fi
  start_server "$db" "$state/server.log"
  echo "Fee server with demo data at $server_url (database $db)"
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build_dir/qt/harnolfees-gui" ]; then
    "$build_dir/qt/harnolfees-gui" --url "$server_url" --center 1
  else
    "$build_dir/apps/harnolfees" show "$server_url" 1
    echo
    echo "No display here. On a desktop, ./run.sh demo opens the editor window on the"
    echo "same data. The fee server stops with this command; to keep one running:"
    echo "  $build_dir/server/harnolfees-server --db $db --listen 127.0.0.1:8080 --demo"
  fi
}

# The README's picture of the editor: a demo server on a temporary database,
# the window drawn off screen at 1280x800.
screenshots() {
  setup
  build_programs
  [ -x "$build_dir/qt/harnolfees-gui" ] || { echo "the editor was not built (Qt 6 missing?)" >&2; exit 1; }
  scratch="$(mktemp -d)"
  start_server "$scratch/demo.db" "$scratch/server.log"
  mkdir -p docs/screenshots
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 "$build_dir/qt/harnolfees-gui" \
    --url "$server_url" --center 1 --screenshot docs/screenshots/tab1.png
  echo "wrote docs/screenshots/tab1.png"
  HARNOLFEES_SCREENSHOT="$here/docs/screenshots/web.png" /usr/bin/python3 tests/web/browser_test.py \
    "$build_dir/server/harnolfees-server" "$build_dir/apps/harnolfees-web/harnolfees-web" screenshot
  echo "wrote docs/screenshots/web.png"
}

case "${1:-}" in
  setup) setup ;;
  build) setup && build ;;
  test) run_tests ;;
  demo) demo "${2:-}" ;;
  screenshots) screenshots ;;
  bench)
    setup
    configure_and_build build-release -DCMAKE_BUILD_TYPE=Release
    exec bench/report build-release
    ;;
  fuzz) setup && exec fuzz/run.sh "${2:-60}" ;;
  coverage) setup && exec tools/coverage.sh ;;
  prove)
    run_tests
    configure_and_build build-release -DCMAKE_BUILD_TYPE=Release
    bench/report build-release
    exec tools/coverage.sh
    ;;
  *)
    echo "usage: $0 demo|test|setup|build|bench|fuzz [SECONDS]|coverage|prove|screenshots" >&2
    exit 2
    ;;
esac
