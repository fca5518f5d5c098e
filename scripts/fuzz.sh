#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for the
# given number of seconds (default 30) over its seed corpus in fuzz/corpus/NAME.
# Usage: scripts/fuzz.sh [seconds] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
bash scripts/deps.sh
CXX=clang++ cmake -S . -B build-fuzz -DFUZZ=ON -DTESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do
    [ -e "$f" ] && targets+=("$(basename "$f" .cpp)")
  done
fi
for t in "${targets[@]}"; do
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$t" ] && cp -r "fuzz/corpus/$t/." "$work/"
  echo "== $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 ./build-fuzz/"$t" -max_total_time="$seconds" -print_final_stats=1 "$work"
  rm -rf "$work"
done
