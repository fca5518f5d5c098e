#!/usr/bin/env bash
# mibwalk's CPU for a walk of mibagent's test table (-b ROWS, 20,000 by
# default) printed by name against a definitions file of 10,000 definitions
# (one covering the table, 9,999 in a neighbouring subtree) and against a file of
# that one definition alone; alternating, RUNS (11) runs each; prints the median
# (and least) user + system seconds of each and the ratio of the medians.
source "$(dirname "$0")/common.sh"
runs=${RUNS:-11}
rows=${ROWS:-20000}
build
start_mibagent -b "$rows"
mkdir -p "$work/cwd"
export TARNOQSNMP_REGISTRY="$work/no-registry"

cover="testEntry = 1.3.6.1.4.1.32473.1.1.1"
echo "$cover" >"$work/one.def"
{
  echo "# 9,999 definitions in a neighbouring subtree, then the one covering the table"
  for ((i = 0; i < 9999; i++)); do
    echo "object$i = 1.3.6.1.4.1.32473.2.$((i / 100)).$((i % 100))"
  done
  echo "$cover"
} >"$work/many.def"

: >"$work/one.cpu"; : >"$work/many.cpu"
for _ in $(seq "$runs"); do
  for f in one many; do
    read -r _ c < <(cd "$work/cwd" && measure "$work/$f.txt" "$root/build/mibwalk" -df "$work/$f.def" \
      -h 127.0.0.1 -p "$agent_port" 1.3.6.1.4.1.32473.1.1.1)
    echo "$c" >>"$work/$f.cpu"
  done
done
n1=$(grep -c '^Name: testEntry\.' "$work/one.txt" || true)
n2=$(grep -c '^Name: testEntry\.' "$work/many.txt" || true)
[ "$n1" = "$rows" ] && [ "$n2" = "$rows" ] || { echo "walk printed $n1 and $n2 named variables, not $rows" >&2; exit 1; }
one=$(median <"$work/one.cpu"); many=$(median <"$work/many.cpu")
echo "== mibwalk over mibagent -b $rows, every variable printed by name; $runs runs each"
paste "$work/one.cpu" "$work/many.cpu" | awk '{ printf "run %2d: cpu_s %.3f with 1, %.3f with 10,000\n", NR, $1, $2 }'
printf '%-20s %14s %11s\n' "definitions file" median_cpu_s min_cpu_s
printf '%-20s %14.3f %11.3f\n' "1 definition" "$one" "$(sort -g "$work/one.cpu" | head -1)"
printf '%-20s %14.3f %11.3f\n' "10,000 definitions" "$many" "$(sort -g "$work/many.cpu" | head -1)"
awk -v a="$one" -v b="$many" 'BEGIN { printf "median cpu ratio 10,000/1: %.2f\n", b / a }'
