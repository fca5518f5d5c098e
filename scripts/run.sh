#!/usr/bin/env bash
# The quick start: installs what is missing, builds mibwalk and the demo agent
# mibagent (only what is out of date), starts mibagent on a free loopback
# port, walks its system and interfaces groups by name, prints the result and
# stops the agent.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target mibwalk mibagent >/dev/null

out=$(mktemp)
agent=""
cleanup() {
  [ -n "$agent" ] && kill "$agent" 2>/dev/null && wait "$agent" 2>/dev/null
  rm -f "$out"
}
trap cleanup EXIT

# Port 0: the agent binds a port the system chooses and names it on its first line.
./build/mibagent -h 127.0.0.1 -p 0 >"$out" &
agent=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^mibagent: listening on 127\.0\.0\.1 port \([0-9]*\)$/\1/p' "$out")
  [ -n "$port" ] && break
  kill -0 "$agent" 2>/dev/null || { echo "mibagent did not start" >&2; exit 1; }
  sleep 0.05
done
[ -n "$port" ] || { echo "mibagent did not report its port" >&2; exit 1; }

for group in system interfaces; do
  echo "== mibwalk -h 127.0.0.1 -p $port -t 5 $group"
  ./build/mibwalk -h 127.0.0.1 -p "$port" -t 5 "$group"
done
