#!/usr/bin/env bash
# How many small planted faults do the tests catch? Runs the mutation sampler (shared/tools/mutants.py beside
# the repository, or MUTANTS_TOOL) over kx, rfc and mime at low priority: 200 sites drawn with seed 15, each
# planted alone, rebuilt in a lean release build (build/mutants: no benchmarks, no examples) and tested with
# every ctest entry but the install-and-consume one (it rebuilds a consumer and catches no planted fault the
# others miss). The same seed and sources give the same sites, so a run before and after a change of the tests
# compares like with like. About 15 s a mutant on a quiet 2-core machine; the last line reads
# "mutants: K killed of M (P%), U did not build", survivors are listed above it.
#   scripts/mutants.sh                           the sample
#   scripts/mutants.sh --list                    only the sites drawn
#   scripts/mutants.sh --shard 0/2               every second site from the first (run 1/2 in another checkout)
#   scripts/mutants.sh --within 'source/kx/*'    only the drawn sites in these files (or 'FILE:LINE ...')
#   scripts/mutants.sh --sample 20 --seed 3      another sample (later options win)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${MUTANTS_TOOL:-}
if [[ -z "$tool" ]]; then
  for candidate in ../shared/tools/mutants.py ../../shared/tools/mutants.py; do
    [[ -f "$candidate" ]] && tool=$candidate && break
  done
fi
[[ -n "$tool" ]] || { echo "mutants.sh: mutants.py not found; set MUTANTS_TOOL" >&2; exit 2; }
if [[ -n "$(git status --porcelain --untracked-files=no source)" ]]; then
  echo "mutants.sh: source/ has uncommitted changes; the sample must run on a clean tree" >&2
  exit 2
fi
build=build/mutants
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
  -DMIME_BUILD_BENCH=OFF -DMIME_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build"
exec nice -n 10 python3 scripts/mutants_part.py "$tool" --build "$build" \
  --files 'source/kx/*.cpp source/rfc/*.cpp source/mime/*.cpp' --sample 200 --seed 15 --timeout 120 \
  --test "ctest --test-dir $build -j2 -E installed_consumer_test" "$@"
