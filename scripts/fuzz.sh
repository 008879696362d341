#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one over its seed corpus in fuzz/corpus/.
#   scripts/fuzz.sh                 replay every corpus and fuzz each target for FUZZ_SECONDS (default 10)
#   FUZZ_SECONDS=300 scripts/fuzz.sh multipart_unpack_fuzz    fuzz one target for longer
# New inputs go to build/fuzz/corpus-work/<target>; crashes are written there too, and fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-10}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
targets=("$@")
if ((${#targets[@]} == 0)); then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "${f%.cpp}")"); done
fi
for target in "${targets[@]}"; do
  seeds="fuzz/corpus/${target%_fuzz}"
  work="build/fuzz/corpus-work/${target%_fuzz}"
  mkdir -p "$work" "$seeds"
  echo "=== ${target}: ${seconds}s ==="
  (cd "$work" && "../../fuzz/${target}" -max_total_time="${seconds}" -timeout=10 -rss_limit_mb=4096 -max_len=65536 \
     -print_final_stats=1 . "../../../../${seeds}" 2>&1 | grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|INFO: Loaded|==[0-9]+==ERROR|SUMMARY)' || true)
  if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
    echo "${target}: findings in ${work}" >&2
    exit 1
  fi
done
