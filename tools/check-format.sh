#!/usr/bin/env bash
# Fails (and lists the files) when any tracked C/C++ file under src/ or tests/ is not laid out
# as the root .clang-format says. Fix with: clang-format -i <file>...
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed (tools/setup.sh installs it)" >&2
  exit 2
fi

mapfile -t files < <(git ls-files -- 'src/*' 'tests/*' | grep -E '\.(c|cc|cpp|cxx|h|hh|hpp)$')
bad=()
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    bad+=("$f")
  fi
done

if [ "${#bad[@]}" -ne 0 ]; then
  echo "check-format: ${#bad[@]} of ${#files[@]} files need clang-format -i:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
