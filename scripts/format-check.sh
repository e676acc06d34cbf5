#!/usr/bin/env bash
# Fails with the list of the .cpp and .h files that the project's .clang-format
# would change. `make format` rewrites them.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=()
while IFS= read -r f; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done < <(git ls-files '*.cpp' '*.h')
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted with .clang-format (run 'make format'):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
