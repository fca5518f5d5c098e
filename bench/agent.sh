#!/usr/bin/env bash
# Walks the demo agent mibagent (with a table of test variables that its -b
# option registers) and Debian's snmpd (its whole tree) with the same client,
# snmpwalk -v1, alternating, five runs each, and prints each agent's median
# wall time per variable.
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
