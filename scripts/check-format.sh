#!/usr/bin/env bash
# Every C++ file of the project laid out as .clang-format says; the files
# that are not are named with what would change.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
    echo "clang-format is missing; scripts/install-deps.sh installs it" >&2
    exit 1
fi
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
