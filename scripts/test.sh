#!/usr/bin/env bash
# Sets up the machine and passes the tests: installs the packages, builds the
# release preset and runs every test suite, then the sanitizer runs below.
# Ends with ctest's summary of the last run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release
cmake --build --preset release
ctest --preset release -j2

# The package: built, checked with lintian, unpacked and run.
bash scripts/check-package.sh

# ---- Sanitizers, after the release suite so that a plain failure shows first:
# the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (asan),
# and the threaded parts under ThreadSanitizer (tsan), chosen by ctest label:
# engine, media, dvrsim and window (rd_test ... LABELS in cmake/RdTargets.cmake).
# Any sanitizer report fails the run: the presets' options make a reporting
# process abort (its test fails), and the whole test output is searched for
# reports of processes whose exit status nobody looked at.
sanitized_suite() {  # PRESET [ctest options...]
  local preset=$1
  shift
  cmake --preset "$preset" -DRD_BUILD_BENCH=OFF
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2 --test-output-size-passed 4194304 \
    --test-output-size-failed 4194304 "$@"
  local log="build/$preset${RD_BUILD_SUFFIX:-}/Testing/Temporary/LastTest.log"
  if grep -E -n 'ERROR: [A-Za-z]+Sanitizer|WARNING: ThreadSanitizer|SUMMARY: [A-Za-z]+Sanitizer|runtime error:' "$log"; then
    echo "test.sh: sanitizer reports in the $preset run (above; full output in $log)" >&2
    exit 1
  fi
}
sanitized_suite asan
sanitized_suite tsan -L '^(engine|media|dvrsim|window)$'
