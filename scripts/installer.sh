#!/usr/bin/env bash
# Builds the Windows installer build-win/TarnoqSnmp-VERSION.msi with wixl from
# windows/tarnoqsnmp.wxs and the cross-built build-win/mibwalk.exe and
# build-win/mibagent.exe (built here when out of date; BIN=DIR takes the
# programs as they are from another directory). The version is the upstream
# part of the first entry of debian/changelog, as for the Debian packages.
#
# With --test (CI): in a fresh Wine prefix, first shows that without the
# installation a walk from an unrelated directory cannot use names and an
# agent there answers no community; then installs the MSI silently, checks
# its registry keys (64-bit view) and files, walks the installed agent with
# the installed walker, both started by full path from that directory, and
# uninstalls, checking that no key and no file is left.
set -euo pipefail
cd "$(dirname "$0")/.."
began=$SECONDS

fail() {
  echo "installer.sh: FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }

test=0
case "${1:-}" in
  --test) test=1 ;;
  "") ;;
  *) echo "usage: scripts/installer.sh [--test]" >&2; exit 1 ;;
esac

packages=(wixl msitools)
[ "$test" = 1 ] || [ -z "${BIN:-}" ] && packages+=(wine wine64)
[ -z "${BIN:-}" ] && packages+=(cmake mingw-w64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y \
    --no-install-recommends "${missing[@]}"
fi

version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' debian/changelog)
version=${version#*:}
version=${version%-*}
# Windows Installer takes only numeric versions (major.minor[.build[.revision]]).
[[ $version =~ ^[0-9]+(\.[0-9]+){1,3}$ ]] || fail "version '$version' of debian/changelog is not numeric"

if [ -z "${BIN:-}" ]; then
  # Configured as scripts/windows.sh configures it, whose tests use the same tree.
  log=$( ([ -f build-win/CMakeCache.txt ] || cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DWERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo) 2>&1 &&
    cmake --build build-win -j2 --target mibwalk mibagent 2>&1) || { printf '%s\n' "$log" >&2; fail "cross build"; }
fi
# wixl resolves sources relative to the working directory only.
bin=$(realpath --relative-to=. "${BIN:-build-win}")
for exe in mibwalk.exe mibagent.exe; do
  [ -f "$bin/$exe" ] || fail "no $bin/$exe"
done
msi=$bin/TarnoqSnmp-$version.msi

step "wixl -a x64 -D Version=$version -o $msi windows/tarnoqsnmp.wxs"
t0=$SECONDS
# wixl only warns about what it does not support: any remark fails the build.
remarks=$(wixl -a x64 -D Version="$version" -D BinDir="$bin" -D SourceDir=. \
  -o "$msi" windows/tarnoqsnmp.wxs 2>&1) || { printf '%s\n' "$remarks" >&2; fail "wixl"; }
[ -z "$remarks" ] || { printf '%s\n' "$remarks" >&2; rm -f "$msi"; fail "wixl remarks"; }
# A 32-bit package or component would put the keys below WOW6432Node.
msiinfo suminfo "$msi" | grep -qx 'Template: x64;1033' || fail "the package is not x64"
if msiinfo export "$msi" Component | awk -F'\t' 'NR > 3 && int($4 / 256) % 2 == 0' | grep -q .; then
  fail "a component is not 64-bit"
fi
echo "built $msi ($(stat -c %s "$msi") bytes) in $((SECONDS - t0)) s"
[ "$test" = 1 ] || exit 0

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
agents=()
cleanup() {
  for pid in "${agents[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  # The prefix's own server and whatever still runs in it.
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
elsewhere=$work/elsewhere
mkdir "$elsewhere"
built=$(realpath "$bin")

# Starts an agent in a directory on a free port: sets $agent and $port.
agent="" port=""
start_agent() {
  local dir=$1 exe=$2 out=$work/agent.$((${#agents[@]})).out
  : >"$out"
  (cd "$dir" && exec wine "$exe" -h 127.0.0.1 -p 0 >"$out" 2>&1) &
  agent=$!
  agents+=("$agent")
  port=""
  for _ in $(seq 200); do
    port=$(tr -d '\r' <"$out" | sed -n 's/^mibagent: listening on 127\.0\.0\.1 port \([0-9]*\)$/\1/p')
    [ -n "$port" ] && return 0
    kill -0 "$agent" 2>/dev/null || { cat "$out" >&2; fail "$exe did not start"; }
    sleep 0.05
  done
  fail "$exe did not report its port"
}
stop_agent() {
  kill "$agent" 2>/dev/null || true
  wait "$agent" 2>/dev/null || true
}

# Runs mibwalk from the unrelated directory: sets $out (without CRs) and $status.
out="" status=0
walk() {
  local exe=$1
  shift
  status=0
  out=$(cd "$elsewhere" && wine "$exe" -h 127.0.0.1 -p "$port" "$@" 2>&1) || status=$?
  out=$(tr -d '\r' <<<"$out")
}
system_names='^Name: sys(Descr|ObjectID|UpTime|Contact|Name|Location|Services)\.0 Kind: '

step "fresh Wine prefix"
t0=$SECONDS
wineboot -i >/dev/null 2>&1 || fail "wineboot"
wineserver -w
echo "prefix ready in $((SECONDS - t0)) s"

# Snapshot of the prefix's files, to tell what the uninstallation leaves.
snapshot() { (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print | sort); }
snapshot >"$work/before"

step "not installed: $bin/mibwalk.exe from $elsewhere against an agent started in the repository"
start_agent . "$built/mibagent.exe"
walk "$built/mibwalk.exe" -t 5 1.3.6.1.2.1.1
[ "$status" -eq 0 ] && [ "$(grep -cE '^Name: 1\.3\.6\.1\.2\.1\.1\.[1-7]\.0 Kind: ' <<<"$out")" -eq 7 ] ||
  { printf '%s\n' "$out"; fail "numeric walk: status $status"; }
walk "$built/mibwalk.exe" -t 5 system
[ "$status" -eq 2 ] && grep -q 'Error parsing argument system' <<<"$out" ||
  fail "a name without the installation: status $status, output: $out"
echo "numeric names only; 'system' refused with status 2"
stop_agent

step "not installed: $bin/mibagent.exe started in $elsewhere answers no community"
start_agent "$elsewhere" "$built/mibagent.exe"
walk "$built/mibwalk.exe" -t 2 -c public 1.3.6.1.2.1.1
[ "$status" -eq 4 ] && grep -qx 'Request Timed Out' <<<"$out" || fail "answered 'public': status $status, $out"
echo "'public' unanswered (status 4)"
stop_agent

step "wine msiexec /i $msi /qn"
t0=$SECONDS
wine msiexec /i "$msi" /qn || fail "msiexec /i: status $?"
echo "installed in $((SECONDS - t0)) s"
key='HKLM\Software\Velmora\TarnoqSnmp'
value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { print $2, $3 }'; }
[ "$(value "$key\\CurrentVersion" Version)" = "REG_SZ $version" ] || fail "Version is not $version"
[ "$(value "$key\\$version\\TarnoqSnmp" Installed)" = "REG_DWORD 0x1" ] || fail "Installed is not 1"
[ "$(value "$key\\$version\\TarnoqSnmp" etc)" = 'REG_SZ C:\ProgramData\TarnoqSnmp' ] ||
  fail "etc is not C:\\ProgramData\\TarnoqSnmp"
! wine reg query 'HKLM\Software\Wow6432Node\Velmora' >/dev/null 2>&1 || fail "keys below WOW6432Node"
for f in "Program Files/TarnoqSnmp/mibwalk.exe" "Program Files/TarnoqSnmp/mibagent.exe" \
  ProgramData/TarnoqSnmp/etc/{snmp.def,snmp.aut,mibagent.cmm,mibagent.trp,mibagent.usr}; do
  [ -f "$WINEPREFIX/drive_c/$f" ] || fail "C:/$f not installed"
done
echo "keys in the 64-bit view, programs and configuration files in place"

installed='C:\Program Files\TarnoqSnmp'
step "installed: $installed\\mibagent.exe and mibwalk.exe by full path from $elsewhere"
start_agent "$elsewhere" "$installed\\mibagent.exe"
walk "$installed\\mibwalk.exe" -t 5 system
printf '%s\n' "$out"
[ "$status" -eq 0 ] && [ "$(grep -cE "$system_names" <<<"$out")" -eq 7 ] ||
  fail "the installed walk lacks the named system group: status $status"
walk "$installed\\mibwalk.exe" -t 2 -c private sysDescr
[ "$status" -eq 4 ] && grep -qx 'Request Timed Out' <<<"$out" ||
  fail "'private', not in the installed community file, was answered: status $status, $out"
echo "'public' of the installed community file answered, 'private' not (status 4)"
stop_agent

step "wine msiexec /x $msi /qn"
t0=$SECONDS
wine msiexec /x "$msi" /qn || fail "msiexec /x: status $?"
echo "uninstalled in $((SECONDS - t0)) s"
! wine reg query 'HKLM\Software\Velmora' >/dev/null 2>&1 || fail "HKLM\\Software\\Velmora is left"
# The server writes the registry files when the prefix's last process ends.
wineserver -w
if grep -il 'velmora\|tarnoqsnmp' "$WINEPREFIX"/*.reg; then fail "the registry still names the product"; fi
snapshot >"$work/after"
left=$(comm -13 "$work/before" "$work/after")
[ -z "$left" ] || { printf '%s\n' "$left" >&2; fail "the uninstallation left these paths"; }
echo "no key, no file left"

echo "installer.sh: all checks passed in $((SECONDS - began)) s"
