#!/usr/bin/env bash
# Fails when a C or C++ source differs from what the root .clang-format makes of it. The
# generated conversion tables are left as their generator writes them.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.c' '*.cpp' '*.h' | grep -v '^charset/tables/')
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files
