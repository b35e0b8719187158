#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS seconds.
#
#   fuzz/run.sh [SECONDS]          (default 60)
#
# HARNOLFEES_FUZZ_SEED, when set, starts every target's search from that seed
# (libFuzzer -seed), so that a run can be repeated.
#
# Every fuzz/*_fuzz.cpp is one target. All code is built with the fuzzer's
# coverage instrumentation and AddressSanitizer and UndefinedBehaviorSanitizer,
# so that the search is guided through the libraries too. Each target starts
# from a copy of its seed corpus in fuzz/corpus/TARGET (the seeds first replay
# every earlier finding) and keeps what it learns in BUILD/corpus/TARGET.
# A crash leaves its input in BUILD/artifacts/TARGET/ and makes the script
# fail after all targets ran; replay it with BUILD/fuzz/TARGET FILE, then add
# the input to fuzz/corpus/TARGET and a test that reproduces it.
#
# Needs clang and libclang-rt-14-dev. The build folder is build-fuzz, or
# HARNOLFEES_FUZZ_BUILD_DIR.
set -euo pipefail

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${HARNOLFEES_FUZZ_BUILD_DIR:-$here/build-fuzz}"
jobs="$(nproc 2>/dev/null || echo 2)"

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed (Debian packages clang and libclang-rt-14-dev)" >&2
  exit 1
fi

targets=()
for src in "$here"/fuzz/*_fuzz.cpp; do
  targets+=("$(basename "$src" .cpp)")
done

sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DHARNOLFEES_FUZZ=ON \
  -DHARNOLFEES_BUILD_TESTS=OFF -DHARNOLFEES_BUILD_BENCH=OFF -DHARNOLFEES_BUILD_QT=OFF \
  -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# One target per core at a time: each gets a whole core for its SECONDS, and
# six targets on two cores take three rounds instead of six.
run_target() {  # target
  local t="$1"
  local corpus="$build/corpus/$t" artifacts="$build/artifacts/$t"
  mkdir -p "$corpus" "$artifacts"
  local seeds=()
  [ -d "$here/fuzz/corpus/$t" ] && seeds+=("$here/fuzz/corpus/$t")
  local seed=()
  [ -n "${HARNOLFEES_FUZZ_SEED:-}" ] && seed+=("-seed=$HARNOLFEES_FUZZ_SEED")
  "$build/fuzz/$t" "${seed[@]}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" \
    >"$build/$t.log" 2>&1
}

declare -A pid_of=()
for t in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do
    wait -n || true
  done
  echo "== $t: ${seconds} s =="
  run_target "$t" &
  pid_of[$t]=$!
done

failed=()
for t in "${targets[@]}"; do
  if wait "${pid_of[$t]}"; then
    echo "-- $t: $(grep -E 'cov: [0-9]+' "$build/$t.log" | tail -n 1 || true)"
  else
    echo "-- $t: FAILED"
    tail -n 40 "$build/$t.log"
    failed+=("$t")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}; inputs in $build/artifacts/" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran ${seconds} s each without a finding"
