#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzers, the package
# build and its checks need, when any is missing. Runs apt-get as root, or through sudo.
set -euo pipefail
packages=(cmake make g++ libssl-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
          clang clang-format libclang-rt-14-dev snmp snmpd snmptrapd procps iproute2
          build-essential debhelper dpkg-dev fakeroot lintian mandoc man-db adduser)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=600 update
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
