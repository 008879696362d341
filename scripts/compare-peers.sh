#!/usr/bin/env bash
# Speed comparison of mime with three established MIME libraries (GMime 3, vmime, mimetic), in one command:
# installs the peers when missing, builds bench/peers/ (Release, build/peers, MIME_BUILD_PEER_BENCH=ON),
# runs peer_compare_bench in interleaved rounds (every round runs each benchmark once, in shuffled order, so
# that a slow spell of the machine hits every library alike) and prints one table: per workload and library
# the median time over the rounds with min and max, the throughput, and the multiple of a memcpy of the same
# size in the same round.
#
# The program runs under
#   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4294967296
# so that every library gets the same heap reuse: blocks up to 32 MiB come from the heap and freed memory
# stays there, instead of some libraries' 16 MiB results being fresh mmap'ed (page-faulting) memory on every
# iteration and others' not, depending only on how their allocations happen to be sized.
#
# usage: scripts/compare-peers.sh [--rounds N] [--filter REGEX] [--min-time SECONDS] [--time cpu|real]
#                                 [--markdown]
#   --rounds N      repetitions of every benchmark (default 7)
#   --filter REGEX  only the benchmarks whose name matches (e.g. 'base64|memcpy'); names are
#                   "<workload>/<library>[_<variant>]", "memcpy/<octets>", "multipart_unpack_peak/<library>"
#   --min-time S    least time a benchmark runs per round (default 0.5); slow operations run one iteration
#   --time cpu|real which time the table reports (default cpu: other jobs on the machine inflate wall time)
#   --markdown      print the table as Markdown
# The JSON of the run stays in build/peers/peer_compare.json and its console log in build/peers/peer_compare.log.
#
# The reader workloads read Python's email test corpus (test/test_email/data/msg_*.txt of a Python 3
# installation: the python3 on the PATH, else Debian's, whose test package the peers' install brings); the
# directory goes to the program in PEER_EMAIL_CORPUS (set it to use another one).
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=7
filter=.
min_time=0.5
time_kind=cpu
markdown=()
while (($#)); do
  case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --filter) filter="$2"; shift 2 ;;
    --min-time) min_time="$2"; shift 2 ;;
    --time) time_kind="$2"; shift 2 ;;
    --markdown) markdown=(--markdown); shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d'; exit 0 ;;
    *) echo "unknown argument: $1 (see --help)" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh peers

build=build/peers
cmake -S . -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIME_BUILD_PEER_BENCH=ON -DMIME_BUILD_BENCH=OFF \
  -DMIME_BUILD_TESTS=OFF -DMIME_BUILD_EXAMPLES=OFF >/dev/null
# Two jobs at most: the machine has two cores and shares them.
cmake --build "${build}" --target peer_compare_bench -- -j2

if [ -z "${PEER_EMAIL_CORPUS:-}" ]; then
  for python in python3 /usr/bin/python3; do
    PEER_EMAIL_CORPUS="$("${python}" -c 'import os, test.test_email as t; print(os.path.join(os.path.dirname(t.__file__), "data"))' 2>/dev/null)" && break
  done
fi
export PEER_EMAIL_CORPUS

echo "running ${rounds} rounds (log: ${build}/peer_compare.log) ..." >&2
GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4294967296 \
  "${build}/bench/peers/peer_compare_bench" \
  --benchmark_filter="${filter}" \
  --benchmark_repetitions="${rounds}" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_min_time="${min_time}" \
  --benchmark_out="${build}/peer_compare.json" --benchmark_out_format=json \
  >"${build}/peer_compare.log" 2>&1

python3 bench/peers/compare_table.py "${build}/peer_compare.json" --time "${time_kind}" "${markdown[@]}"
