#!/usr/bin/env bash
# CI: builds the Debian packages from a copy of the tree, checks them with
# lintian, the manual pages with mandoc and man, installs them with apt-get,
# runs the installed agent as its unit would on a free loopback port (with a
# state directory as systemd's StateDirectory= gives it, and one SNMPv3 user
# added to the installed users file), walks it as root and as an ordinary
# user, reads it with snmpget -v3, checks that refused sets go unanswered,
# and purges both packages, checking that nothing they installed or created
# is left. Runs as root on a throwaway machine.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package.sh: must run as root (it installs packages)" >&2; exit 1; }
bash scripts/deps.sh
export DEBIAN_FRONTEND=noninteractive
began=$SECONDS

PACKAGES=(tarnoqsnmp tarnoqsnmp-agent)
CONF=/etc/tarnoqsnmp/etc
DEFS=$CONF/snmp.def
ORDINARY=nobody

work=$(mktemp -d)
state=""
agent=""
installed=0
cleanup() {
  if [ -n "$agent" ] && kill -0 "$agent" 2>/dev/null; then
    kill "$agent" 2>/dev/null
    wait "$agent" 2>/dev/null || true
  fi
  if [ "$installed" = 1 ]; then
    apt-get -o DPkg::Lock::Timeout=600 purge -y -qq "${PACKAGES[@]}" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
  [ -z "$state" ] || rm -rf "$state"
}
trap cleanup EXIT

fail() {
  echo "package.sh: FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }

# Prints the output of a check that must print nothing, and fails on it.
quiet() {
  local what=$1 out
  shift
  out=$("$@" 2>&1) || true
  [ -z "$out" ] || { printf '%s\n' "$out" >&2; fail "$what"; }
}

step "manual pages: mandoc -T lint, man --warnings"
for page in man/mibwalk.1 man/mibagent.8; do
  quiet "mandoc -T lint $page" mandoc -T lint "$page"
  quiet "man --warnings $page" sh -c "MANWIDTH=80 man --warnings -l '$page' 2>&1 >/dev/null"
done

step "dpkg-buildpackage -us -uc -b (nocheck: the suite ran before)"
# dpkg-buildpackage writes into the parent of the source tree: build a copy.
mkdir "$work/src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z -co --exclude-standard | tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$work/src"
else
  tar --exclude='./build*' -cf - . | tar -xf - -C "$work/src"
fi
(cd "$work/src" && DEB_BUILD_OPTIONS="nocheck parallel=2" dpkg-buildpackage -us -uc -b -Pnocheck) \
  >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; fail "dpkg-buildpackage"; }
debs=()
for p in "${PACKAGES[@]}"; do
  f=$(ls "$work/${p}"_*.deb 2>/dev/null | head -1)
  [ -n "$f" ] || fail "no package $p was built"
  debs+=("$f")
done

step "lintian (fails on errors and warnings)"
lintian -I --show-overrides --fail-on error,warning "$work"/*.changes 2>&1 |
  grep -v '^running with root privileges' || true
lintian --fail-on error,warning "$work"/*.changes >/dev/null 2>&1 || fail "lintian"

# What exists before the installation, to tell what the packages leave.
snapshot() {
  { find /etc /usr /lib /opt /srv /var/lib/systemd -xdev 2>/dev/null || true; } |
    grep -Ev '^/etc/(passwd|group|shadow|gshadow)-$|^/etc/ld\.so\.cache$' | sort
}
snapshot >"$work/before"
passwd_before=$(cat /etc/passwd /etc/group /etc/shadow /etc/gshadow | md5sum)
overrides_before=$(dpkg-statoverride --list | sort | md5sum)

step "apt-get install ${debs[*]##*/}"
installed=1
apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${debs[@]}" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "apt-get install"; }
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" | grep -qx 'install ok installed' || fail "$p not installed"
done
[ ! -e /etc/snmp.def ] && [ ! -e /snmp.def ] || fail "a definitions file lies where a user at / would read it"
getent passwd _mibagent >/dev/null || fail "no system user _mibagent"
[ "$(stat -c %U "$CONF/snmp.aut")" = _mibagent ] || fail "snmp.aut is not owned by _mibagent"

unit=$(dpkg -L tarnoqsnmp-agent | grep '/mibagent\.service$')
[ -f "$unit" ] || fail "no mibagent.service"
if command -v systemd-analyze >/dev/null; then
  step "systemd-analyze verify $unit"
  # Other units of a live system may draw remarks of their own: only ours count.
  out=$(systemd-analyze verify "$unit" 2>&1) || { printf '%s\n' "$out" >&2; fail "systemd-analyze verify"; }
  if grep -q 'mibagent' <<<"$out"; then
    printf '%s\n' "$out" >&2
    fail "systemd-analyze verify: remarks on mibagent.service"
  fi
  [ -z "$out" ] || printf 'remarks on other units:\n%s\n' "$out"
else
  echo "systemd-analyze not available: unit not verified"
fi

if [ -e /usr/share/man/man1/mibwalk.1.gz ]; then
  step "man mibwalk, man 8 mibagent"
  # --nj: formatted afresh. Every build's pages bear the changelog's time
  # (SOURCE_DATE_EPOCH), so man-db would take a page it cached from an earlier
  # build of the same version for this one's.
  page=$(MANWIDTH=80 man --nj mibwalk 2>&1) || true
  grep -q 'walk subtrees of an SNMP version 1, v2c or v3 agent' <<<"$page" || { head -8 <<<"$page"; fail "man mibwalk"; }
  page=$(MANWIDTH=80 man --nj 8 mibagent 2>&1) || true
  grep -q 'small SNMP version 1, v2c and v3 agent' <<<"$page" || { head -8 <<<"$page"; fail "man 8 mibagent"; }
else
  echo "manual pages excluded by this machine's dpkg configuration: man not checked"
fi

# The unit's own user, group, working directory and command; only the port
# differs: 0, so that the system picks a free one.
unit_value() { sed -n "s/^$1=//p" "$unit" | tail -1; }
user=$(unit_value User)
group=$(unit_value Group)
dir=$(unit_value WorkingDirectory)
read -r -a command <<<"$(unit_value ExecStart)"
[ -n "$user" ] && [ -n "$group" ] && [ -n "$dir" ] && [ ${#command[@]} -gt 0 ] || fail "unit lacks User, Group, WorkingDirectory or ExecStart"
as_service() { (cd "$dir" && exec setpriv --reuid="$user" --regid="$group" --init-groups -- "$@"); }
as_service test -w "$CONF/snmp.aut" || fail "$user cannot write snmp.aut"
as_service test -r "$CONF/mibagent.cmm" || fail "$user cannot read mibagent.cmm"
as_service test -r "$CONF/mibagent.usr" || fail "$user cannot read mibagent.usr"
for f in mibagent.cmm mibagent.usr; do
  # shellcheck disable=SC2016
  setpriv --reuid="$ORDINARY" --regid=nogroup --clear-groups -- sh -c '! test -r "$1"' sh "$CONF/$f" ||
    fail "an ordinary user can read $f"
done

# systemd makes the unit's StateDirectory= (/var/lib/NAME) for the service
# user and names it in STATE_DIRECTORY: the same, in a directory of our own.
[ "$(unit_value StateDirectory)" = mibagent ] || fail "unit lacks StateDirectory=mibagent"
state=$(mktemp -d /tmp/mibagent-state.XXXXXX)
chown "$user:$group" "$state"
chmod "$(unit_value StateDirectoryMode)" "$state"
# One SNMPv3 user, appended as an administrator would: the file keeps its mode.
USR=$CONF/mibagent.usr
V3USER=(-v3 -u pkgcheck -l authPriv -a SHA-256 -A package-auth-pass -x AES -X package-priv-pass)
echo "pkgcheck SHA-256 package-auth-pass AES package-priv-pass authPriv READ" >>"$USR"
[ "$(stat -c '%U:%G %a' "$USR")" = "root:$group 640" ] || fail "mibagent.usr is not root:$group 0640"

step "agent as the unit runs it: ${command[*]} -p 0 (user $user, in $dir, STATE_DIRECTORY=$state)"
# One subshell that execs: $! is the agent itself.
(cd "$dir" && export STATE_DIRECTORY=$state &&
  exec setpriv --reuid="$user" --regid="$group" --init-groups -- "${command[@]}" -p 0 \
  >"$work/agent.out" 2>"$work/agent.err") &
agent=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^mibagent: listening on 127\.0\.0\.1 port \([0-9]*\)$/\1/p' "$work/agent.out")
  [ -n "$port" ] && break
  kill -0 "$agent" 2>/dev/null || { cat "$work/agent.err" >&2; fail "mibagent did not start"; }
  sleep 0.05
done
[ -n "$port" ] || fail "mibagent did not report its port"
[ ! -s "$work/agent.err" ] || { cat "$work/agent.err" >&2; fail "mibagent complained (files not found?)"; }

# Walks from /, as root or as the ordinary user; options before the names.
to=(-h 127.0.0.1 -p "$port" -t 5)
walk() { (cd / && mibwalk "${to[@]}" "$@"); }
walk_ordinary() { (cd / && setpriv --reuid="$ORDINARY" --regid=nogroup --clear-groups -- mibwalk "${to[@]}" "$@"); }
system_names='^Name: sys(Descr|ObjectID|UpTime|Contact|Name|Location|Services)\.0 Kind: '

step "root at /: mibwalk ${to[*]} system"
out=$(walk system) || fail "mibwalk as root: status $?"
printf '%s\n' "$out"
[ "$(grep -cE "$system_names" <<<"$out")" -eq 7 ] || fail "root's walk lacks the named system group"

step "$ORDINARY at /: mibwalk ${to[*]} -df $DEFS system"
out=$(walk_ordinary -df "$DEFS" system) || fail "mibwalk -df as $ORDINARY: status $?"
[ "$(grep -cE "$system_names" <<<"$out")" -eq 7 ] || { printf '%s\n' "$out"; fail "walk with -df lacks names"; }

step "$ORDINARY at /: mibwalk ${to[*]} 1.3.6.1.2.1.1 (no definitions: numeric names)"
out=$(walk_ordinary 1.3.6.1.2.1.1) || fail "numeric walk as $ORDINARY: status $?"
printf '%s\n' "$out"
[ "$(grep -cE '^Name: 1\.3\.6\.1\.2\.1\.1\.[1-7]\.0 Kind: ' <<<"$out")" -eq 7 ] || fail "numeric walk"
status=0
out=$(walk_ordinary system) || status=$?
[ "$status" -eq 2 ] && grep -q 'Error parsing argument system' <<<"$out" ||
  fail "a name without definitions: status $status, output: $out"

step "snmpget ${V3USER[*]} sysName.0; the engine state in STATE_DIRECTORY"
out=$(SNMP_PERSISTENT_DIR="$work/snmp" snmpget "${V3USER[@]}" -On -m '' -t 2 -r 1 "127.0.0.1:$port" \
  1.3.6.1.2.1.1.5.0 2>&1) || fail "snmpget -v3: $out"
printf '%s\n' "$out"
grep -q '^\.1\.3\.6\.1\.2\.1\.1\.5\.0 = STRING: ' <<<"$out" || fail "snmpget -v3 got no sysName"
grep -qx 'engineBoots 1' "$state/mibagent.eng" || fail "no engine state in $state"
[ "$(stat -c %U "$state/mibagent.eng")" = "$user" ] || fail "the engine state is not $user's"

counter() { sed -n "s/^Name: $1\.0 Kind: Counter Value: \([0-9]*\) $/\1/p" <<<"$2"; }
counters() { walk snmpInBadCommunityNames snmpInBadCommunityUses; }
before=$(counters)
for community in public private; do
  step "snmpset -c $community sysContact.0: no answer"
  status=0
  out=$(snmpset -v1 -c "$community" -t 1 -r 0 "127.0.0.1:$port" 1.3.6.1.2.1.1.4.0 s changed 2>&1) || status=$?
  [ "$status" -ne 0 ] && grep -q 'Timeout' <<<"$out" || fail "snmpset -c $community was answered: $out"
done
after=$(counters)
printf '%s\n' "$after"
names0=$(counter snmpInBadCommunityNames "$before")
names1=$(counter snmpInBadCommunityNames "$after")
[ -n "$names0" ] && [ -n "$names1" ] && [ "$names1" -gt "$names0" ] ||
  fail "snmpInBadCommunityNames did not rise ($names0 -> $names1)"
walk sysContact | grep -q 'Value: "root@localhost"' || fail "a refused set changed sysContact"

step "SIGTERM ends the agent with status 0"
kill -TERM "$agent"
status=0
wait "$agent" || status=$?
agent=""
[ "$status" -eq 0 ] || fail "mibagent ended with status $status"

step "apt-get purge ${PACKAGES[*]}"
apt-get -o DPkg::Lock::Timeout=600 purge -y -qq "${PACKAGES[@]}" >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log" >&2; fail "apt-get purge"; }
installed=0
for p in "${PACKAGES[@]}"; do
  if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qv 'not-installed'; then
    fail "$p is still known to dpkg"
  fi
done
snapshot >"$work/after"
left=$(comm -13 "$work/before" "$work/after")
[ -z "$left" ] || { printf '%s\n' "$left" >&2; fail "the purge left these paths"; }
[ "$(cat /etc/passwd /etc/group /etc/shadow /etc/gshadow | md5sum)" = "$passwd_before" ] ||
  fail "the purge left user or group entries"
[ "$(dpkg-statoverride --list | sort | md5sum)" = "$overrides_before" ] || fail "the purge left statoverrides"

echo "package.sh: all checks passed in $((SECONDS - began)) s"
