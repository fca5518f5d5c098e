#!/usr/bin/env bash
# SNMPv3 walks: the whole tree of a private snmpd at authPriv (SHA-256,
# AES-128) by mibwalk -v 3 -b 25 and by snmpbulkwalk -v3 -Cr25, and in v2c by
# mibwalk -v 2c -b 25: median wall and client CPU (perf's task-clock where
# perf can count, else the shell's time) of RUNS alternating runs; each v3
# walk discovers the engine and makes its keys. VERBOSE=1 prints every run.
source "$(dirname "$0")/common.sh"
runs=${RUNS:-9}
build
export MIBS= MIBDIRS=/nonexistent
mkdir -p "$work/cwd"
start_snmpd v3
export TARNOQSNMP_REGISTRY="$work/no-registry"
prefer_perf
v3=(-l authPriv -a SHA-256 -x AES -A benchauth1 -X benchpriv1)
walkers=("mibwalk -v 3 -b 25" "snmpbulkwalk -v3 -Cr25" "mibwalk -v 2c -b 25")
for i in 0 1 2; do : >"$work/w$i"; : >"$work/c$i"; done
for _ in $(seq "$runs"); do
  for i in 0 1 2; do
    read -r -a cmd <<<"${walkers[$i]}"
    case $i in
      0) args=("$root/build/mibwalk" -h 127.0.0.1 -p "$snmpd_port" -t 5 -u bench "${v3[@]}") ;;
      1) args=(snmpbulkwalk -m '' -On -u bench "${v3[@]}" "127.0.0.1:$snmpd_port") ;;
      2) args=("$root/build/mibwalk" -h 127.0.0.1 -p "$snmpd_port" -t 5) ;;
    esac
    if [ "$i" = 1 ]; then
      read -r w c < <(measure "$work/o$i" "${cmd[0]}" "${cmd[@]:1}" "${args[@]:1}" 1.3.6.1)
    else
      read -r w c < <(cd "$work/cwd" && measure "$work/o$i" "${args[@]}" "${cmd[@]:1}" 1.3.6.1)
    fi
    echo "$w" >>"$work/w$i"; echo "$c" >>"$work/c$i"
  done
  [ -z "${VERBOSE:-}" ] || echo "run: $(tail -qn1 "$work"/w0 "$work"/c0 "$work"/w1 "$work"/c1 "$work"/w2 "$work"/c2 | tr '\n' ' ')" >&2
done
grep -q 'Name: ' "$work/o0" || { echo "mibwalk -v 3 walked nothing:" >&2; cat "$work/o0" >&2; exit 1; }
echo "== whole tree of snmpd at authPriv, SHA-256 and AES-128 ($(grep -c ' = ' "$work/o1") variables" \
     "by snmpbulkwalk, $(grep -c 'Name: ' "$work/o0") by mibwalk -v 3); median of $runs runs"
printf '%-26s %10s %10s\n' walker wall_s cpu_s
for i in 0 1 2; do
  printf '%-26s %10.3f %10.3f\n' "${walkers[$i]}" "$(median <"$work/w$i")" "$(median <"$work/c$i")"
done
awk -v mw="$(median <"$work/w0")" -v mc="$(median <"$work/c0")" -v sw="$(median <"$work/w1")" \
  -v sc="$(median <"$work/c1")" -v vw="$(median <"$work/w2")" -v vc="$(median <"$work/c2")" \
  'BEGIN { printf "mibwalk -v 3 against snmpbulkwalk -v3: wall %.2f, cpu %.2f; against mibwalk -v 2c: wall %.2f, cpu %.2f\n",
           mw / sw, (sc > 0 ? mc / sc : 0), mw / vw, (vc > 0 ? mc / vc : 0) }'
