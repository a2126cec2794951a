#!/usr/bin/env bash
# Checks that every C and C++ file of the tree is formatted with the project's .clang-format.
# Prints the files that are not and fails; `clang-format -i FILE` formats one.
set -euo pipefail
cd "$(dirname "$0")/.."

unformatted=()
while IFS= read -r file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then unformatted+=("$file"); fi
done < <(git ls-files '*.c' '*.cpp' '*.h')

if [ ${#unformatted[@]} -gt 0 ]; then
  echo "Not formatted with .clang-format (run clang-format -i on them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "formatting: ok"
