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

# The SNMPv3 user of the benchmarks, the same for every agent.
BENCH_V3_USER="bench SHA-256 benchauth1 AES benchpriv1"

# Starts Debian's snmpd with a configuration of its own (its community, and
# with "v3" also the benchmarks' user); sets snmpd_port.
start_snmpd() {
  command -v snmpd >/dev/null || [ -x /usr/sbin/snmpd ] || { echo "snmpd is not installed" >&2; exit 1; }
  snmpd_port=$(free_port)
  printf 'rocommunity public 127.0.0.1\n' >"$work/snmpd.conf"
  if [ "${1:-}" = v3 ]; then
    mkdir -p "$work/persist"
    printf '%s\n' 'engineID tarnoqbench' "createUser $BENCH_V3_USER" 'rouser bench priv' >>"$work/snmpd.conf"
  fi
  SNMP_PERSISTENT_DIR="$work/persist" MIBS= MIBDIRS=/nonexistent /usr/sbin/snmpd -f -Lo -C \
    -c "$work/snmpd.conf" -p "$work/snmpd.pid" "udp:127.0.0.1:$snmpd_port" >"$work/snmpd.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    MIBS= MIBDIRS=/nonexistent snmpget -v1 -c public -On -t 1 -r 0 "127.0.0.1:$snmpd_port" \
      1.3.6.1.2.1.1.3.0 >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "snmpd did not answer" >&2
  exit 1
}

# Starts the demo agent with extra options; sets agent_port. With
# MIBAGENT_V3 set it runs in a directory of its own whose users file holds
# the benchmarks' user.
start_mibagent() {
  : >"$work/mibagent.out" # there before the first read, whenever the child opens it
  if [ -n "${MIBAGENT_V3:-}" ]; then
    mkdir -p "$work/agent/etc"
    cp etc/mibagent.cmm "$work/agent/etc/"
    echo "$BENCH_V3_USER authPriv READ" >"$work/agent/etc/mibagent.usr"
    chmod 600 "$work/agent/etc/mibagent.usr"
    (cd "$work/agent" && exec "$root/build/mibagent" -h 127.0.0.1 -p 0 "$@" >"$work/mibagent.out" 2>&1) &
  else
    ./build/mibagent -h 127.0.0.1 -p 0 "$@" >"$work/mibagent.out" 2>&1 &
  fi
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

# perf's task-clock counts a walker's own CPU from its exec on; the shell's
# time would add the fork of a shell (about 8 ms here, half a walk), so it
# serves only where perf cannot count. Replaces measure when perf can.
prefer_perf() {
  perf stat -e task-clock -o "$work/perf" true 2>/dev/null && grep -q task-clock "$work/perf" || return 0
  measure() { # "wall cpu" in seconds, output to $1
    local out=$1
    shift
    perf stat -e task-clock -o "$work/perf" "$@" >"$out" 2>/dev/null
    awk '/task-clock/ { cpu = $1 / 1000 } /seconds time elapsed/ { wall = $1 }
         END { printf "%.4f %.4f\n", wall, cpu }' "$work/perf"
  }
  echo "(client CPU: perf's task-clock)"
}

# CPU microseconds per returned binding of the agent with pid $1 while the
# client command that follows replays $work/names at it (the client prints
# "answered N lost M bindings B"); prints "us bindings".
per_binding() {
  local pid=$1 before after bindings
  shift
  before=$(cpu_ticks "$pid")
  read -r _ _ _ _ _ bindings < <("$@" <"$work/names")
  after=$(cpu_ticks "$pid")
  awk -v t=$((after - before)) -v n="$bindings" -v u="$(awk -v hz="$(getconf CLK_TCK)" 'BEGIN { print 1e6 / hz }')" \
    'BEGIN { printf "%.3f %d\n", t * u / n, n }'
}

# RUNS alternating replays at mibagent (pid ${pids[1]}) and snmpd (${pids[0]})
# by the client command "$@" PORT ROUNDS...: the median CPU per binding of
# each and their ratio, under the heading $1.
compare_agents() {
  local heading=$1 c n an dn
  shift
  : >"$work/a.cpu"; : >"$work/d.cpu"
  for _ in $(seq "$runs"); do
    read -r c n < <(per_binding "${pids[1]}" "$@" "$agent_port"); echo "$c" >>"$work/a.cpu"; an=$n
    read -r c n < <(per_binding "${pids[0]}" "$@" "$snmpd_port"); echo "$c" >>"$work/d.cpu"; dn=$n
  done
  [ -z "${VERBOSE:-}" ] || paste "$work/a.cpu" "$work/d.cpu" >&2
  local a d
  a=$(median <"$work/a.cpu"); d=$(median <"$work/d.cpu")
  echo "== agent CPU per returned binding: $heading from each of $(wc -l <"$work/names") names" \
       "of the objects both serve, x $rounds rounds ($an and $dn bindings a run); median of $runs runs"
  printf '%-9s %12s\n' agent us_cpu
  printf '%-9s %12.3f\n' mibagent "$a" snmpd "$d"
  awk -v a="$a" -v d="$d" 'BEGIN { printf "mibagent/snmpd CPU per binding: %.2f\n", a / d }'
}
