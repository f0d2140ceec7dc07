#!/usr/bin/env bash
# Sets up the machine and passes the tests: installs the packages, builds the
# release preset and runs every test suite. Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release
cmake --build --preset release
ctest --preset release -j2

# The package: built, checked with lintian, unpacked and run.
bash scripts/check-package.sh
