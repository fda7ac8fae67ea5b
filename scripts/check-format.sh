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
# Header guards have one form: VELMARD_ and the path in capitals.
for f in "${files[@]}"; do
  [[ "$f" == *.h ]] || continue
  g=$(echo "VELMARD_${f#./}" | tr 'a-z' 'A-Z' | tr -c 'A-Z0-9\n' '_')
  if ! grep -qx "#ifndef $g" "$f" || ! grep -qx "#define $g" "$f" || ! grep -qx "#endif  // $g" "$f"; then
    bad+=("$f")
  fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "format: header guard is not #ifndef/#define/#endif  // VELMARD_<PATH>_H: ${bad[*]}"
  exit 1
fi
echo "format: ${#files[@]} files in the house style"
