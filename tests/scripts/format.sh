#!/usr/bin/env bash
# Every C++ file is as clang-format leaves it; a file that is not fails here.
set -euo pipefail
cd "$(dirname "$0")/../.."
command -v clang-format >/dev/null || { echo "skip: clang-format is not installed"; exit 77; }
mapfile -t files < <(find src tests bench scripts -name '*.cpp' -o -name '*.h' | sort)
clang-format --dry-run -Werror "${files[@]}"
echo "ok: ${#files[@]} files formatted"
