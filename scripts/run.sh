#!/usr/bin/env bash
# Builds the daemon and runs it in the foreground on the simulated board.
# Arguments are passed to the daemon (for example --port 20002).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/run -G Ninja >/dev/null
cmake --build build/run -j "$(nproc)" --target velmard-sim velmard
exec build/run/velmard-sim "$@"
