#!/usr/bin/env bash
# Sets the machine up, builds every preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

status=0
run() {
  echo "==> $*"
  "$@" || status=1
}

cmake --preset native >/dev/null && cmake --build --preset native || exit 1
run ctest --preset native
# The link benchmark: one short run, so that it keeps working. Its figures
# come from the bench preset (README).
run build/native/bench/quillon_bench --short

# The product build (i686): compiles everything, the tests included.
cmake --preset win32 >/dev/null && cmake --build --preset win32 || exit 1

cmake --preset win64 >/dev/null && cmake --build --preset win64 || exit 1
run ctest --preset win64

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1
run ctest --preset fuzz

exit $status
