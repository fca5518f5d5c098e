#!/usr/bin/env bash
# Installs what is missing, builds mibwalk and shows its usage.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target mibwalk
./build/mibwalk -x || true
