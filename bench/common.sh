# Shared by the benchmark scripts: building, a private snmpd on a free loopback
# port, timing and medians. Sourced, not run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)
work=$(mktemp -d)
pids=()

cleanup() {
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null && wait "$p" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

build() {
  [ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j2 --target mibwalk mibagent >/dev/null
}

# The floor echo pair and the GetNext client, plain programs built apart
# from the library.
build_benchtools() {
  mkdir -p build/benchtools
  for t in floor getnext; do
    [ build/benchtools/$t -nt bench/$t.cpp ] ||
      g++ -std=c++20 -O2 -Wall -Wextra -o build/benchtools/$t bench/$t.cpp
  done
}

# CPU (user + system) of a running process in clock ticks, from /proc/PID/stat
# (fields 14 and 15, counted after the parenthesised command name).
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

# A UDP port on 127.0.0.1 that no socket holds now.
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    ss -Huln "sport = :$p" | grep -q . || { echo "$p"; return; }
  done
}

# Starts Debian's snmpd with a configuration of its own; sets snmpd_port.
start_snmpd() {
  command -v snmpd >/dev/null || [ -x /usr/sbin/snmpd ] || { echo "snmpd is not installed" >&2; exit 1; }
  snmpd_port=$(free_port)
  printf 'rocommunity public 127.0.0.1\n' >"$work/snmpd.conf"
  MIBS= MIBDIRS=/nonexistent /usr/sbin/snmpd -f -Lo -C -c "$work/snmpd.conf" -p "$work/snmpd.pid" \
    "udp:127.0.0.1:$snmpd_port" >"$work/snmpd.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    MIBS= MIBDIRS=/nonexistent snmpget -v1 -c public -On -t 1 -r 0 "127.0.0.1:$snmpd_port" \
      1.3.6.1.2.1.1.3.0 >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "snmpd did not answer" >&2
  exit 1
}

# Starts the demo agent with extra options; sets agent_port.
start_mibagent() {
  : >"$work/mibagent.out" # there before the first read, whenever the child opens it
  ./build/mibagent -h 127.0.0.1 -p 0 "$@" >"$work/mibagent.out" 2>&1 &
  pids+=($!)
  agent_port=""
  for _ in $(seq 200); do
    agent_port=$(sed -n 's/^mibagent: listening on 127\.0\.0\.1 port \([0-9]*\)$/\1/p' "$work/mibagent.out")
    [ -n "$agent_port" ] && return
    sleep 0.05
  done
  echo "mibagent did not start" >&2
  exit 1
}

# Runs a command with its output to a file; prints "wall cpu" in seconds,
# cpu being user + system of the command.
measure() {
  local out=$1
  shift
  local TIMEFORMAT='%R %U %S'
  local t
  t=$({ time "$@" >"$out" 2>/dev/null; } 2>&1 | tail -1)
  echo "$t" | awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
