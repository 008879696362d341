#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, when any is missing (needs root or sudo then).
# With the argument "peers" it also installs the peer MIME libraries of the speed comparison
# (scripts/compare-peers.sh): GMime 3, vmime and mimetic.
set -euo pipefail
# python3, mpack and ripmime are the peers of the interop tests (tests/tool/): Python's email package,
# mpack/munpack and ripmime read and write the messages mimetool reads and writes. /usr/bin/time (package
# time) measures whole processes in scripts/tool-whole-process.py.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config
          python3 time mpack ripmime)
if [ "${1:-}" = peers ]; then
  packages+=(libgmime-3.0-dev libvmime-dev libmimetic-dev)
  # Python's email test corpus, read by the reader workloads: Debian ships it apart from the interpreter.
  if ! python3 -c 'import test.test_email' 2>/dev/null && ! /usr/bin/python3 -c 'import test.test_email' 2>/dev/null; then
    version="$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null || true)"
    [ -z "${version}" ] || packages+=("libpython${version}-testsuite")
  fi
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
