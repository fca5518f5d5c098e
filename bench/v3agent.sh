#!/usr/bin/env bash
# SNMPv3 agents: each agent's CPU per returned binding when one client
# replays authPriv GetBulkRequests (SHA-256, AES-128, max-repetitions 25)
# over the MIB-II groups and ifXTable that both mibagent and snmpd serve,
# ROUNDS times over, alternating between the agents, each agent's CPU read
# from /proc/PID/stat around its replay; median of RUNS runs. VERBOSE=1
# prints every run's figures.
source "$(dirname "$0")/common.sh"
runs=${RUNS:-9}
rounds=${ROUNDS:-100}
build
build_benchtools
# The replay client links the library as built.
g++ -std=c++20 -O2 -I. -o build/benchtools/v3replay bench/v3replay.cpp build/libtarnoq_agent.a \
  build/libtarnoq_smp.a build/libtarnoq_asn.a build/libtarnoq_smx.a build/libtarnoq_platform.a \
  build/libtarnoq_number.a -lcrypto -lpthread
export MIBS= MIBDIRS=/nonexistent
tick_us=$(awk -v hz="$(getconf CLK_TCK)" 'BEGIN { print 1e6 / hz }')
subtrees="1.3.6.1.2.1.1 1.3.6.1.2.1.2 1.3.6.1.2.1.4 1.3.6.1.2.1.5 1.3.6.1.2.1.6 1.3.6.1.2.1.7
  1.3.6.1.2.1.11 1.3.6.1.2.1.31.1.1"

# snmpd with the user "bench" beside its community.
snmpd_port=$(free_port)
mkdir -p "$work/persist"
printf '%s\n' 'rocommunity public 127.0.0.1' 'engineID tarnoqbench' \
  'createUser bench SHA-256 benchauth1 AES benchpriv1' 'rouser bench priv' >"$work/snmpd.conf"
SNMP_PERSISTENT_DIR="$work/persist" /usr/sbin/snmpd -f -Lo -C -c "$work/snmpd.conf" \
  -p "$work/snmpd.pid" "udp:127.0.0.1:$snmpd_port" >"$work/snmpd.log" 2>&1 &
pids+=($!)
# mibagent with the same user, from a directory of its own.
mkdir -p "$work/agent/etc"
cp etc/mibagent.cmm "$work/agent/etc/"
echo 'bench SHA-256 benchauth1 AES benchpriv1 authPriv READ' >"$work/agent/etc/mibagent.usr"
chmod 600 "$work/agent/etc/mibagent.usr"
(cd "$work/agent" && exec "$root/build/mibagent" -h 127.0.0.1 -p 0 >"$work/mibagent.out" 2>&1) &
pids+=($!)
agent_port=""
for _ in $(seq 200); do
  agent_port=$(sed -n 's/^mibagent: listening on 127\.0\.0\.1 port \([0-9]*\)$/\1/p' "$work/mibagent.out")
  [ -n "$agent_port" ] && snmpget -v1 -c public -t 1 -r 0 "127.0.0.1:$snmpd_port" 1.3.6.1.2.1.1.3.0 \
    >/dev/null 2>&1 && break
  sleep 0.05
done
[ -n "$agent_port" ] || { echo "the agents did not start" >&2; exit 1; }

build/benchtools/getnext learn "$agent_port" public $subtrees >"$work/names"
per_binding() {
  local before after bindings
  before=$(cpu_ticks "$1")
  read -r _ _ _ _ _ bindings < <(build/benchtools/v3replay "$2" "$rounds" <"$work/names")
  after=$(cpu_ticks "$1")
  awk -v t=$((after - before)) -v n="$bindings" -v u="$tick_us" 'BEGIN { printf "%.3f %d\n", t * u / n, n }'
}

: >"$work/a.cpu"; : >"$work/d.cpu"
for _ in $(seq "$runs"); do
  read -r c n < <(per_binding "${pids[1]}" "$agent_port"); echo "$c" >>"$work/a.cpu"; an=$n
  read -r c n < <(per_binding "${pids[0]}" "$snmpd_port"); echo "$c" >>"$work/d.cpu"; dn=$n
done
[ -z "${VERBOSE:-}" ] || paste "$work/a.cpu" "$work/d.cpu" >&2
a=$(median <"$work/a.cpu"); d=$(median <"$work/d.cpu")
echo "== agent CPU per returned binding: authPriv GetBulk (SHA-256, AES-128, max-repetitions 25)" \
     "from each of $(wc -l <"$work/names") names of the objects both serve, x $rounds rounds" \
     "($an and $dn bindings a run); median of $runs runs"
printf '%-9s %12s\n' agent us_cpu
printf '%-9s %12.3f\n' mibagent "$a" snmpd "$d"
awk -v a="$a" -v d="$d" 'BEGIN { printf "mibagent/snmpd CPU per binding: %.2f\n", a / d }'
