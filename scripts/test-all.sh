#!/usr/bin/env bash
# Builds and runs every test: the plain release build, the sanitized build (ASan + UBSan + LSan) and the
# clang build. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
for preset in release asan clang; do
  echo "=== ${preset} ==="
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}"
  ctest --preset "${preset}" -j2
done
