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

# Another apt or dpkg run (a fresh machine's automatic upgrades, say) may hold
# the package manager's locks: wait for them, for a bounded time, instead of
# failing at once. apt-get's install waits on the dpkg lock by itself when
# told to; its update does not, so that wait is done here. A lock still held
# afterwards fails with apt's own message.
lock_wait=600
locks=(/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock
       /var/cache/apt/archives/lock)

lock_held() {
  local f inode
  for f in "${locks[@]}"; do
    [ -e "$f" ] || continue
    inode=$(stat -c %i "$f")
    # /proc/locks names a locked file as MAJOR:MINOR:INODE.
    if grep -Eq ":${inode} " /proc/locks 2>/dev/null; then return 0; fi
  done
  return 1
}

wait_for_locks() {
  local waited=0
  lock_held || return 0
  echo "setup: another process holds the package manager's lock; waiting up to ${lock_wait} s"
  while lock_held && [ "$waited" -lt "$lock_wait" ]; do
    sleep 1
    waited=$((waited + 1))
  done
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_opts=(-o "DPkg::Lock::Timeout=${lock_wait}")
  wait_for_locks
  apt-get "${apt_opts[@]}" update -qq
  apt-get "${apt_opts[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
