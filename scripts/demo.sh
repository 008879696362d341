#!/usr/bin/env bash
# Builds the release configuration and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
cmake --preset release >/dev/null
cmake --build --preset release
./build/release/examples/codec_demo
