#!/usr/bin/env bash
# Prints the suite's size against the code and, unless --lines is given, the
# line, function and branch coverage of that code by the whole suite, from a
# --coverage build in build-cov/. With --check, fails when the tests exceed
# 40% of the code's lines.
#
# Lines: every line of the files under tests/ against every line of the C++
# files outside tests/, fuzz/ and bench/ (blank and comment lines included).
set -euo pipefail
cd "$(dirname "$0")/.."
only_lines=0 check=0
for a in "$@"; do
  case $a in
    --lines) only_lines=1 ;;
    --check) only_lines=1 check=1 ;;
    *) echo "usage: $0 [--lines | --check]" >&2; exit 2 ;;
  esac
done

code=$(git ls-files '*.cpp' '*.h' | grep -v -E '^(tests|fuzz|bench)/' | xargs cat | wc -l)
tests=$(git ls-files 'tests/*' | xargs cat | wc -l)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.1f", 100 * t / c }')
echo "lines: tests $tests, code $code, tests/code $ratio%"
if [ "$check" = 1 ]; then
  awk -v t="$tests" -v c="$code" 'BEGIN { exit !(t <= 0.4 * c) }' ||
    { echo "the tests exceed 40% of the code's lines" >&2; exit 1; }
  exit 0
fi
[ "$only_lines" = 1 ] && exit 0

command -v gcovr >/dev/null || { echo "gcovr is missing (apt-get install gcovr)" >&2; exit 1; }
# A fresh tree: notes of removed files or older builds would skew the figures.
rm -rf build-cov
cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=--coverage >/dev/null
cmake --build build-cov -j2 >/dev/null
ctest --test-dir build-cov -j2 >/dev/null || echo "some tests failed; coverage is of what ran" >&2
gcovr -r . build-cov --filter 'platform/' --filter 'smx/' --filter 'asn/' --filter 'smp/' \
  --filter 'agent/' --filter 'tool/' --filter 'demo/' --exclude 'build-cov/' --exclude-unreachable-branches --exclude-throw-branches --print-summary -o build-cov/coverage.txt
