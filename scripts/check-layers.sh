#!/bin/bash
# Fails, naming the file, when the engine includes a Qt header or when a source file is not
# formatted as the committed .clang-format says. Cheap, so it runs before any build.
set -uo pipefail
cd "$(dirname "$0")/.."

status=0

# The engine builds without Qt for the command line; a Qt include would only fail later, and
# only in a build that has Qt on the include path.
while IFS=: read -r file line _; do
    echo "check-layers: $file:$line includes a Qt header, but src/core must stay Qt-free" >&2
    status=1
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' src/core \
    --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc')

# Another major version formats differently, so only 14 is trusted to judge drift.
format=""
for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null &&
        "$candidate" --version | grep -qE 'version 14\.'; then
        format=$candidate
        break
    fi
done
if [ -z "$format" ]; then
    echo "check-layers: clang-format 14 is missing (apt-get install clang-format-14)" >&2
    exit 1
fi

drift=0
while IFS= read -r -d '' file; do
    if ! "$format" --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "check-layers: $file is not clang-formatted (run: $format -i $file)" >&2
        drift=$((drift + 1))
    fi
done < <(find src tests \( -name '*.h' -o -name '*.cpp' \) -type f -print0 | sort -z)
if [ "$drift" -gt 0 ]; then
    echo "check-layers: $drift file(s) under src/ or tests/ differ from .clang-format" >&2
    status=1
fi

exit $status
