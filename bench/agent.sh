#!/usr/bin/env bash
# Walks the demo agent mibagent (with a table of test variables that its -b
# option registers) and Debian's snmpd (its whole tree) with the same client,
# snmpwalk -v1, alternating, five runs each, and prints each agent's median
# wall time per variable. Then each agent's CPU per answered GetNext over the
# system and interfaces groups beside the floor (bench/floor), with client and
# server on one CPU and on two; the same over the MIB-II objects both agents
# serve; each agent's whole-tree walk time and resident memory. VERBOSE=1
# prints every run's figures.
source "$(dirname "$0")/common.sh"
runs=${RUNS:-5}
rows=${ROWS:-6000}
build
start_snmpd
start_mibagent -b "$rows"
: >"$work/a.per"; : >"$work/d.per"
for _ in $(seq "$runs"); do
  read -r w _ < <(measure "$work/a.txt" snmpwalk -v1 -m '' -On -c public "127.0.0.1:$agent_port" 1.3.6.1)
  n=$(grep -c ' = ' "$work/a.txt")
  awk -v w="$w" -v n="$n" 'BEGIN { printf "%.9f\n", w / n }' >>"$work/a.per"
  read -r w _ < <(MIBS= MIBDIRS=/nonexistent measure "$work/d.txt" snmpwalk -v1 -m '' -On -c public \
    "127.0.0.1:$snmpd_port" 1.3.6.1)
  n2=$(grep -c ' = ' "$work/d.txt")
  awk -v w="$w" -v n="$n2" 'BEGIN { printf "%.9f\n", w / n }' >>"$work/d.per"
done
a=$(median <"$work/a.per"); d=$(median <"$work/d.per")
echo "== snmpwalk -v1 over each agent's tree; median of $runs runs"
printf '%-9s %10s %14s\n' agent variables us_per_variable
printf '%-9s %10d %14.1f\n' mibagent "$n" "$(awk -v a="$a" 'BEGIN { print a * 1e6 }')"
printf '%-9s %10d %14.1f\n' snmpd "$n2" "$(awk -v d="$d" 'BEGIN { print d * 1e6 }')"
awk -v a="$a" -v d="$d" 'BEGIN { printf "snmpd/mibagent time per variable: %.2f\n", d / a }'

# CPU per answered request: the GetNext walk of the system and interfaces
# groups that mibagent answers, sent by one client process ROUNDS times over
# to each agent in turn (the same request names to both), with each agent's
# CPU read from /proc/PID/stat before and after; beside it the floor, a bare
# UDP echo pair. The cost of a wake-up differs by far whether the client and
# the agent share a CPU or not, so both placements are pinned and shown.
rounds=${ROUNDS:-1500}
build_benchtools
tick_us=$(awk -v hz="$(getconf CLK_TCK)" 'BEGIN { print 1e6 / hz }')
mibagent_pid=${pids[1]}; snmpd_pid=${pids[0]}
build/benchtools/getnext learn "$agent_port" public 1.3.6.1.2.1.1 1.3.6.1.2.1.2 >"$work/names"
per_request() { # pid port client-cpu <names: CPU microseconds per answered request
  local before after answered
  before=$(cpu_ticks "$1")
  read -r _ answered _ < <(taskset -c "$3" build/benchtools/getnext replay "$2" public "$rounds")
  after=$(cpu_ticks "$1")
  awk -v t=$((after - before)) -v n="$answered" -v u="$tick_us" 'BEGIN { printf "%.3f\n", t * u / n }'
}
placements="same:0:0"
[ "$(nproc)" -lt 2 ] || placements="$placements cross:1:0"
# CPU per answered GetNext of both agents over the request names in $1, in
# both placements; $2 says what the names are, $3 and $4 are mibagent's pid
# and port, $5 the rounds (ROUNDS when not given).
compare_cpu() {
  local names=$1 what=$2 apid=$3 aport=$4 rounds=${5:-$rounds}
  for placement in $placements; do
    IFS=: read -r place server_cpu client_cpu <<<"$placement"
    taskset -apc "$server_cpu" "$apid" >/dev/null
    taskset -apc "$server_cpu" "$snmpd_pid" >/dev/null
    : >"$work/a.cpu"; : >"$work/d.cpu"; : >"$work/fs"; : >"$work/fc"
    for _ in $(seq "$runs"); do
      per_request "$apid" "$aport" "$client_cpu" <"$names" >>"$work/a.cpu"
      per_request "$snmpd_pid" "$snmpd_port" "$client_cpu" <"$names" >>"$work/d.cpu"
      build/benchtools/floor 100000 48 "$server_cpu" "$client_cpu" >"$work/floor.txt"
      awk '/server/ { print $3 }' "$work/floor.txt" >>"$work/fs"
      awk '/client/ { print $3 }' "$work/floor.txt" >>"$work/fc"
    done
    [ -z "${VERBOSE:-}" ] || paste "$work/a.cpu" "$work/d.cpu" "$work/fs" "$work/fc" >&2
    a=$(median <"$work/a.cpu"); d=$(median <"$work/d.cpu")
    fs=$(median <"$work/fs"); fc=$(median <"$work/fc")
    echo "== CPU per answered GetNext, $what ($(wc -l <"$names") names x $rounds rounds)," \
         "server on CPU $server_cpu, client on CPU $client_cpu; median of $runs runs"
    printf '%-20s %8s\n' side us_cpu
    printf '%-20s %8.2f\n' mibagent "$a" snmpd "$d" "floor server" "$fs" "floor client" "$fc"
    awk -v a="$a" -v d="$d" -v f="$fs" \
      'BEGIN { printf "snmpd/mibagent: %.2f   mibagent/floor server: %.2f\n", d / a, a / f }'
  done
}
compare_cpu "$work/names" "system and interfaces groups" "$mibagent_pid" "$agent_port"

# MIB-II as shipped: a second mibagent without the test table. The request
# names are those that a walk of each MIB-II group sends to both agents (the
# objects both serve); then each agent's whole-tree walk time and, after the
# walks, its resident memory.
start_mibagent
plain_pid=${pids[2]}
mib2="1.3.6.1.2.1.1 1.3.6.1.2.1.2 1.3.6.1.2.1.3 1.3.6.1.2.1.4 1.3.6.1.2.1.5 1.3.6.1.2.1.6"
mib2="$mib2 1.3.6.1.2.1.7 1.3.6.1.2.1.11"
# shellcheck disable=SC2086
build/benchtools/getnext learn "$agent_port" public $mib2 | sort -u >"$work/a.names"
# shellcheck disable=SC2086
build/benchtools/getnext learn "$snmpd_port" public $mib2 | sort -u >"$work/d.names"
comm -12 "$work/a.names" "$work/d.names" >"$work/both"
# About MIB2_REQUESTS requests per run and agent.
compare_cpu "$work/both" "MIB-II objects both serve" "$plain_pid" "$agent_port" \
  $(( (${MIB2_REQUESTS:-60000} + $(wc -l <"$work/both") - 1) / $(wc -l <"$work/both") ))

: >"$work/a.walk"; : >"$work/d.walk"
for _ in $(seq "$runs"); do
  read -r w _ < <(measure "$work/a.txt" snmpwalk -v1 -m '' -On -c public "127.0.0.1:$agent_port" 1.3.6.1)
  echo "$w" >>"$work/a.walk"
  read -r w _ < <(MIBS= MIBDIRS=/nonexistent measure "$work/d.txt" snmpwalk -v1 -m '' -On -c public \
    "127.0.0.1:$snmpd_port" 1.3.6.1)
  echo "$w" >>"$work/d.walk"
done
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
echo "== whole tree (snmpwalk -v1 1.3.6.1), median of $runs runs; resident memory after the walks"
printf '%-22s %10s %8s %10s\n' agent variables wall_s VmRSS_kB
printf '%-22s %10d %8.3f %10d\n' mibagent "$(grep -c ' = ' "$work/a.txt")" "$(median <"$work/a.walk")" \
  "$(rss "$plain_pid")"
printf '%-22s %10s %8s %10d\n' "mibagent -b $rows" "" "" "$(rss "$mibagent_pid")"
printf '%-22s %10d %8.3f %10d\n' snmpd "$(grep -c ' = ' "$work/d.txt")" "$(median <"$work/d.walk")" \
  "$(rss "$snmpd_pid")"
awk -v a="$(rss "$plain_pid")" -v d="$(rss "$snmpd_pid")" \
  'BEGIN { printf "mibagent/snmpd resident memory: %.2f (goal: at most 0.25)\n", a / d }'
