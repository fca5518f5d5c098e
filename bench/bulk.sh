#!/usr/bin/env bash
# SNMPv2c bulk walks. First each agent's CPU per returned binding: one client
# replays GetBulkRequests (max-repetitions 25) over the MIB-II groups and
# ifXTable that both mibagent and snmpd serve, ROUNDS times over, alternating
# between the agents, each agent's CPU read from /proc/PID/stat around its
# replay. Then the whole tree of snmpd walked by mibwalk -v 2c -b 25, by
# snmpbulkwalk -v2c -Cr25 and by mibwalk -v 1: median wall and client CPU of
# RUNS alternating runs. VERBOSE=1 prints every run's figures.
source "$(dirname "$0")/common.sh"
runs=${RUNS:-9}
rounds=${ROUNDS:-200}
build
start_snmpd
start_mibagent
export MIBS= MIBDIRS=/nonexistent
subtrees="1.3.6.1.2.1.1 1.3.6.1.2.1.2 1.3.6.1.2.1.4 1.3.6.1.2.1.5 1.3.6.1.2.1.6 1.3.6.1.2.1.7
  1.3.6.1.2.1.11 1.3.6.1.2.1.31.1.1"

# One client replays GetBulk requests (max-repetitions 25) from every name of
# a GetNext walk of the objects both serve, ROUNDS times over.
build_benchtools
build/benchtools/getnext learn "$agent_port" public $subtrees >"$work/names"
replay() { BULK=25 build/benchtools/getnext replay "$1" public "$rounds"; }
compare_agents "GetBulk (max-repetitions 25)" replay

# Whole-tree walks of snmpd, client side.
mkdir -p "$work/cwd"
export TARNOQSNMP_REGISTRY="$work/no-registry"
prefer_perf
walkers=("mibwalk -v 2c -b 25" "snmpbulkwalk -v2c -Cr25" "mibwalk -v 1")
for i in 0 1 2; do : >"$work/w$i"; : >"$work/c$i"; done
for _ in $(seq "$runs"); do
  for i in 0 1 2; do
    read -r -a cmd <<<"${walkers[$i]}"
    if [ "${cmd[0]}" = mibwalk ]; then
      read -r w c < <(cd "$work/cwd" && measure "$work/o$i" "$root/build/mibwalk" -h 127.0.0.1 \
        -p "$snmpd_port" "${cmd[@]:1}" 1.3.6.1)
    else
      read -r w c < <(measure "$work/o$i" "${cmd[@]}" -m '' -On -c public "127.0.0.1:$snmpd_port" 1.3.6.1)
    fi
    echo "$w" >>"$work/w$i"; echo "$c" >>"$work/c$i"
  done
done
echo "== whole tree of snmpd ($(grep -c ' = ' "$work/o1") variables by snmpbulkwalk); median of $runs runs"
printf '%-26s %10s %10s\n' walker wall_s cpu_s
for i in 0 1 2; do
  printf '%-26s %10.3f %10.3f\n' "${walkers[$i]}" "$(median <"$work/w$i")" "$(median <"$work/c$i")"
done
awk -v mw="$(median <"$work/w0")" -v mc="$(median <"$work/c0")" -v sw="$(median <"$work/w1")" \
  -v sc="$(median <"$work/c1")" -v vw="$(median <"$work/w2")" \
  'BEGIN { printf "mibwalk -v 2c against snmpbulkwalk: wall %.2f, cpu %.2f; against mibwalk -v 1: wall %.2f\n",
           mw / sw, (sc > 0 ? mc / sc : 0), mw / vw }'
