#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from its .clang-format
# layout, and names the files. Fix with:
#   git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
failed=()
for file in "${sources[@]}"; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || failed+=("$file")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Not formatted as .clang-format says (clang-format -i FILE):" >&2
  printf '  %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "format: ${#sources[@]} files as .clang-format says"
