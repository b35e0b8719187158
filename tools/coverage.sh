#!/usr/bin/env bash
# Line and branch coverage of src/ by the whole test suite.
#
#   tools/coverage.sh
#
# Builds the project with gcc's --coverage in build-coverage (or
# HARNOLFEES_COVERAGE_BUILD_DIR), runs every CTest test, and prints gcovr's
# summary of src/ and the line coverage of each file (also in
# build-coverage/coverage/summary.txt); build-coverage/coverage/index.html
# has the annotated sources. Branches that only an exception would take, and
# those the compiler proves unreachable, are left out of the branch figure:
# every C++ call that may throw has one, and they say nothing about the tests.
# The counters are updated atomically: the load and the transfer run code on
# helper threads, and racing increments would leave impossible (negative)
# counts that gcovr refuses.
# Needs gcovr (Debian package gcovr).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${HARNOLFEES_COVERAGE_BUILD_DIR:-$here/build-coverage}"
jobs="$(nproc 2>/dev/null || echo 2)"

if ! command -v gcovr >/dev/null; then
  echo "coverage: gcovr is not installed (Debian package gcovr)" >&2
  exit 1
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_CXX_FLAGS="--coverage -O0 -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage" -DCMAKE_SHARED_LINKER_FLAGS="--coverage" \
  -DHARNOLFEES_BUILD_BENCH=OFF -DHARNOLFEES_BUILD_QT=OFF >/dev/null
cmake --build "$build" -j "$jobs"

# Counts of an earlier run would add to this one.
find "$build" -name '*.gcda' -delete
(cd "$build" && ctest -j "$jobs" --timeout 600 --output-on-failure) || status=$?

mkdir -p "$build/coverage"
common=(--root "$here" --filter "$here/src/" --object-directory "$build"
  --exclude-throw-branches --exclude-unreachable-branches)
gcovr "${common[@]}" --html-details "$build/coverage/index.html" >/dev/null
gcovr "${common[@]}" --print-summary --sort-percentage | tee "$build/coverage/summary.txt"
if [ "${status:-0}" -ne 0 ]; then
  echo "coverage: some tests failed (ctest status $status); the figures count what ran" >&2
  exit "$status"
fi
