#!/usr/bin/env bash
# Fails when a C++ file of the tree is not in the house style (.clang-format).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
bad=()
for f in "${files[@]}"; do
  if ! clang-format --style=file "$f" | cmp -s - "$f"; then bad+=("$f"); fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "format: not in the house style (run clang-format -i): ${bad[*]}"
  exit 1
fi
echo "format: ${#files[@]} files in the house style"
