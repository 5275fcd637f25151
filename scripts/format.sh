#!/usr/bin/env bash
# Formats our C++ sources with .clang-format; with --check, changes nothing and lists the
# files that are not formatted (exit 1).
set -euo pipefail
cd "$(dirname "$0")/.."

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -co --exclude-standard '*.cpp' '*.h')
else
    mapfile -t files < <(find app bench platform presets tests ui -name '*.cpp' -o -name '*.h')
fi

if [ "${1:-}" != --check ]; then
    clang-format -i "${files[@]}"
    exit 0
fi

bad=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
    echo "Not formatted (run 'make format'):"
    printf '    %s\n' "${bad[@]}"
    exit 1
fi
echo "All ${#files[@]} C++ files are formatted."
