#!/usr/bin/env bash
# Builds and runs every test: the plain release build, the sanitized build (ASan + UBSan + LSan), the clang
# build, and the concurrency stress test under ThreadSanitizer. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
for preset in release asan clang; do
  echo "=== ${preset} ==="
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}"
  ctest --preset "${preset}" -j2
done
# Only the stress binary runs under ThreadSanitizer: it is the test that shares objects between threads.
echo "=== tsan: stress_tests ==="
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target stress_tests
ctest --preset tsan -R '^stress_tests$'
