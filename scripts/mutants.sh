#!/usr/bin/env bash
# How many small planted faults do the tests catch? Runs the mutation sampler (shared/tools/mutants.py beside
# the repository, or MUTANTS_TOOL) over kx, rfc and mime at low priority: 200 sites drawn with seed 15, each
# planted alone, rebuilt and tested with the release build. The same seed and sources give the same sites,
# so a run before and after a change of the tests compares like with like. It takes hours on a small
# machine; the last line reads "mutants: K killed of M (P%), U did not build", survivors are listed above it.
#   scripts/mutants.sh                           the sample
#   scripts/mutants.sh --list                    only the sites drawn
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
cmake --preset release >/dev/null
cmake --build --preset release
exec nice -n 19 python3 "$tool" --build build/release --files 'source/kx/*.cpp source/rfc/*.cpp source/mime/*.cpp' \
  --sample 200 --seed 15 "$@"
