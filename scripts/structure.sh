#!/usr/bin/env bash
# A picture of the source tree's shape: files over 500 lines, functions over
# about 60 lines, and which files include a given header (ui/monitor_presenter.h by
# default). Usage: scripts/structure.sh [HEADER]
set -euo pipefail
cd "$(dirname "$0")/.."
header="${1:-ui/monitor_presenter.h}"
folders=(base app device channels sampling settings ui trend publish web sim)

echo "== Files over 500 lines"
git ls-files "${folders[@]/%//*.cpp}" "${folders[@]/%//*.h}" | xargs wc -l |
  awk '$2 != "total" && $1 > 500 { print "  " $1 "  " $2 }' | sort -rn

echo "== Functions over 60 lines (a body from a line opening at column 0 to its closing brace)"
git ls-files "${folders[@]/%//*.cpp}" | while read -r f; do
  awk -v file="$f" '
    /^[A-Za-z].*\)( const)?( override)?$/ || /^[A-Za-z].*\) *\{$/ { name = $0; start = NR; next }
    /^\{$/ && start == NR - 1 { open = start; next }
    /^\}$/ && open { if (NR - open > 60) printf "  %4d  %s: %s\n", NR - open, file, name; open = 0 }
  ' "$f"
done | sort -rn

echo "== Files that include $header"
git grep -l "#include \"$header\"" -- '*.cpp' '*.h' | sed 's/^/  /'
echo "  ($(git grep -l "#include \"$header\"" -- '*.cpp' '*.h' | wc -l) files)"
