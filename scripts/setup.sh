#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need, and nothing that
# is there already. Safe to run again.
set -euo pipefail

packages=(
  g++ cmake ninja-build python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev libloki-dev
  rsyslog util-linux
  clang libclang-rt-14-dev clang-format
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
