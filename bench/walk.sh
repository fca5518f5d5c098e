#!/usr/bin/env bash
# Walks the whole tree of a private snmpd with mibwalk and with
# snmpwalk -v1 -m '' -On, alternating, five runs each, and prints the median
# wall and CPU (user + system) seconds of each and their ratios; then once
# more with -t 5 given to both, to show the cost of re-arming the timer.
source "$(dirname "$0")/common.sh"
runs=${RUNS:-5}
build
start_snmpd
# No definitions and no registry: mibwalk prints numeric names, like -On.
mkdir -p "$work/cwd"
export TARNOQSNMP_REGISTRY="$work/no-registry"

table() {
  local label=$1 mibwalk_extra=$2 snmpwalk_extra=$3
  : >"$work/m.wall"; : >"$work/m.cpu"; : >"$work/s.wall"; : >"$work/s.cpu"
  for _ in $(seq "$runs"); do
    read -r w c < <(cd "$work/cwd" && measure "$work/m.txt" "$root/build/mibwalk" -h 127.0.0.1 \
      -p "$snmpd_port" $mibwalk_extra 1.3.6.1)
    echo "$w" >>"$work/m.wall"; echo "$c" >>"$work/m.cpu"
    read -r w c < <(MIBS= MIBDIRS=/nonexistent measure "$work/s.txt" snmpwalk -v1 -m '' -On \
      -c public $snmpwalk_extra "127.0.0.1:$snmpd_port" 1.3.6.1)
    echo "$w" >>"$work/s.wall"; echo "$c" >>"$work/s.cpu"
  done
  local mw mc sw sc
  mw=$(median <"$work/m.wall"); mc=$(median <"$work/m.cpu")
  sw=$(median <"$work/s.wall"); sc=$(median <"$work/s.cpu")
  echo "== $label: whole tree, $(grep -c '^Name: ' "$work/m.txt") variables by mibwalk," \
       "$(grep -c ' = ' "$work/s.txt") by snmpwalk; median of $runs runs"
  printf '%-10s %10s %10s\n' program wall_s cpu_s
  printf '%-10s %10.3f %10.3f\n' mibwalk "$mw" "$mc"
  printf '%-10s %10.3f %10.3f\n' snmpwalk "$sw" "$sc"
  awk -v mw="$mw" -v mc="$mc" -v sw="$sw" -v sc="$sc" \
    'BEGIN { printf "ratio mibwalk/snmpwalk: wall %.2f, cpu %.2f\n", mw / sw, (sc > 0 ? mc / sc : 0) }'
}

table "no timer" "" ""
table "with -t 5" "-t 5" "-t 5"
