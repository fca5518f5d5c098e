#!/usr/bin/env bash
# The Windows build: installs what is missing (Debian packages), cross-builds
# with mingw-w64 in build-win/ (warnings as errors), runs the tests under a
# fresh Wine prefix, then the interop walks on 127.0.0.1: mibwalk.exe against
# the Linux mibagent (also in SNMPv3 at authPriv: SHA with AES, SHA-256 with
# AES-256) and Debian's snmpd (its report equals the Linux
# mibwalk's but for line ends and the figures that move between two walks),
# Debian's snmpwalk -v1 against mibagent.exe to "End of MIB", and the
# timeout's exit status 4; the registry read by mibwalk.exe and Ctrl+C ending
# mibagent.exe cleanly; last, the installer's test (scripts/installer.sh
# --test). Console programs under Wine need no display.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(mingw-w64 wine wine64 googletest cmake snmp snmpd python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

now() { date +%s.%N; }
took() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

t=$(now)
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DWERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-win -j2
echo "windows: cross build $(took "$t")"

export WINEPREFIX=$work/prefix WINEDEBUG=-all
t=$(now)
wineboot -i >/dev/null 2>&1
ctest --test-dir build-win -j2 --output-on-failure --timeout 120
echo "windows: tests under Wine $(took "$t")"

t=$(now)
if [ ! -x build/mibagent ] || [ ! -x build/mibwalk ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j2 --target mibagent mibwalk
fi
# A working directory with the community and definitions files; no registry.
mkdir -p "$work/run/etc"
cp etc/mibagent.cmm etc/snmp.def "$work/run/etc/"
echo "# no destination" >"$work/run/etc/mibagent.trp"
# SNMPv3 users; the agent refuses a users file that others can read.
printf '%s\n' 'waes SHA authpass123 AES privpass123 authPriv READ' \
  'w256 SHA-256 authpass123 AES-256 privpass123 authPriv READ' >"$work/run/etc/mibagent.usr"
chmod 600 "$work/run/etc/mibagent.usr"
export TARNOQSNMP_REGISTRY=$work/no-registry
cd "$work/run"

free_port() {
  python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# Starts a program in the background with its output in file $1; its PID is
# appended to pids.
start() {
  local out=$1
  shift
  "$@" >"$out" 2>&1 &
  pids+=($!)
}
# The port from the agent's "listening on ... port N" line, waiting for it.
agent_port() {
  for _ in $(seq 100); do
    grep -q 'listening on' "$1" 2>/dev/null && { sed -n 's/.*listening on .* port \([0-9]*\).*/\1/p' "$1" | tr -d '\r'; return; }
    sleep 0.1
  done
  echo "no agent in $1:" >&2
  cat "$1" >&2
  exit 1
}
# Up times, counters and the engine's time (snmpEngineTime, seconds) move
# between two walks.
steady() {
  tr -d '\r' | sed -E -e 's/(Kind: (TimeTicks|Counter|Counter64) Value: )[0-9]+/\1N/' \
    -e 's/(\.6\.3\.10\.2\.1\.3\.0 Kind: Integer Value: )[0-9]+/\1N/'
}
same_walk() { # port, community, what, names...
  local port=$1 community=$2 what=$3
  shift 3
  wine "$root/build-win/mibwalk.exe" -h 127.0.0.1 -p "$port" -t 5 -c "$community" "$@" | steady >"$work/windows.txt"
  "$root/build/mibwalk" -h 127.0.0.1 -p "$port" -t 5 -c "$community" "$@" | steady >"$work/linux.txt"
  grep -q 'Name: ' "$work/linux.txt" || { echo "no bindings from $what" >&2; exit 1; }
  diff "$work/linux.txt" "$work/windows.txt" >&2 || { echo "mibwalk.exe differs on $what" >&2; exit 1; }
  echo "windows: mibwalk.exe walks $what like mibwalk ($(grep -c 'Name: ' "$work/linux.txt") bindings)"
}

start "$work/agent.out" "$root/build/mibagent" -h 127.0.0.1 -p 0
agent=$(agent_port "$work/agent.out")
same_walk "$agent" public "the Linux mibagent" 1.3.6.1
same_walk "$agent" public "the Linux mibagent in SNMPv2c" -v 2c -b 25 1.3.6.1
same_walk "$agent" public "the Linux mibagent in SNMPv3 (SHA, AES)" -v 3 -u waes -l authPriv \
  -a SHA -x AES -A authpass123 -X privpass123 -b 25 1.3.6.1
same_walk "$agent" public "the Linux mibagent in SNMPv3 (SHA-256, AES-256)" -v 3 -u w256 \
  -l authPriv -a SHA-256 -x AES-256 -A authpass123 -X privpass123 -b 25 1.3.6.1

# The definitions found through the registry (an administrator's token, the
# keys opened for reading), from a directory that has no etc/.
mkdir -p "$work/config/etc" "$work/elsewhere"
cp etc/snmp.def "$work/config/etc/"
key='HKLM\Software\Velmora\TarnoqSnmp'
wine reg add "$key\CurrentVersion" /v Version /d 1 /f >/dev/null
wine reg add "$key\1\TarnoqSnmp" /v Installed /t REG_DWORD /d 1 /f >/dev/null
wine reg add "$key\1\TarnoqSnmp" /v etc /d "$(winepath -w "$work/config")" /f >/dev/null
(cd "$work/elsewhere" && wine "$root/build-win/mibwalk.exe" -h 127.0.0.1 -p "$agent" -t 5 system) |
  grep -q '^Name: sysDescr.0 ' || { echo "mibwalk.exe found no definitions through the registry" >&2; exit 1; }
wine reg delete 'HKLM\Software\Velmora' /f >/dev/null
echo "windows: mibwalk.exe finds its definitions through the registry"

snmpd_port=$(free_port)
echo "rocommunity public 127.0.0.1" >"$work/snmpd.conf"
start "$work/snmpd.out" /usr/sbin/snmpd -f -Lo -C -c "$work/snmpd.conf" "udp:127.0.0.1:$snmpd_port"
for _ in $(seq 50); do grep -q 'NET-SNMP version' "$work/snmpd.out" && break; sleep 0.1; done
same_walk "$snmpd_port" public "Debian's snmpd" system interfaces

start "$work/agent-exe.out" wine "$root/build-win/mibagent.exe" -h 127.0.0.1 -p 0
port=$(agent_port "$work/agent-exe.out")
snmpwalk -v1 -c public -On -m '' -t 5 "127.0.0.1:$port" .1 >"$work/snmpwalk.txt"
tail -n 1 "$work/snmpwalk.txt" | grep -qx 'End of MIB' ||
  { echo "snmpwalk did not reach the end of mibagent.exe's MIB:" >&2; tail -n 3 "$work/snmpwalk.txt" >&2; exit 1; }
echo "windows: snmpwalk -v1 walks mibagent.exe to End of MIB ($(grep -c ' = ' "$work/snmpwalk.txt") bindings)"
# Wine turns SIGINT into the console's Ctrl+C event.
kill -INT "${pids[-1]}"
status=0
wait "${pids[-1]}" || status=$?
[ "$status" = 0 ] || { echo "mibagent.exe ended with status $status on Ctrl+C" >&2; exit 1; }
echo "windows: Ctrl+C stops mibagent.exe cleanly"

status=0
wine "$root/build-win/mibwalk.exe" -h 127.0.0.1 -p "$(free_port)" -t 2 1.3.6.1 >"$work/timeout.txt" || status=$?
[ "$status" = 4 ] && grep -q 'Request Timed Out' "$work/timeout.txt" ||
  { echo "mibwalk.exe with no agent: status $status, expected 4" >&2; exit 1; }
echo "windows: the timeout ends mibwalk.exe with status 4"
echo "windows: interop $(took "$t")"

t=$(now)
bash "$root/scripts/installer.sh" --test
echo "windows: installer $(took "$t")"
