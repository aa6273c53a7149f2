#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the tools lack
# (with --tests, also what only the package checks use; with --bench, also
# what the benchmarks compare against; with --only PKG..., just those
# packages, as the test servers ask for theirs).
# Safe to run again: it asks apt only for packages that are missing.
# Packages installed here never start their system services.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config groff
    qt6-base-dev libglib2.0-dev libicu-dev zlib1g-dev libssl-dev libsystemd-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    netbase libcap2-bin
    dpkg-dev file
    fonts-dejavu-core fonts-liberation2
    perl libnet-perl python3
    inn2 dante-server
)

case "${1:-}" in
    # The package checks (lintian, systemd-analyze, man), the window tests
    # (Xvfb, openbox) and the end-to-end tests (ss, the openssl command).
    --tests) packages+=(lintian systemd man-db xvfb openbox x11-utils iproute2 openssl) ;;
    # The benchmarks compare against other relays and draw plots.
    --bench) packages+=(socat haproxy gnuplot-nox iproute2 util-linux linux-perf stunnel4) ;;
    --only) shift; packages=("$@") ;;
esac

# installed PKG: PKG is installed, or (for a virtual package such as
# libnet-perl, which perl provides) an installed package provides it.
installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' && return 0
    dpkg-query -W -f='${db:Status-Abbrev}|${Provides}\n' 2>/dev/null \
        | sed -n 's/^ii *|//p' | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -xF -- "$1" >/dev/null
}

find_missing() {
    missing=()
    for p in "${packages[@]}"; do
        installed "$p" || missing+=("$p")
    done
}
find_missing
((${#missing[@]})) || exit 0

# One install at a time: tests running in parallel may each ask for their
# server's package, and apt-get refuses to run beside another. Whoever
# waited looks again for what is still missing.
lockdir=/run/lock
[ -d "$lockdir" ] || lockdir=/tmp
exec 9>"$lockdir/sitowiak-setup.lock"
flock -w 900 9 || { echo "setup.sh: another setup.sh holds $lockdir/sitowiak-setup.lock"; exit 1; }
find_missing
((${#missing[@]})) || exit 0

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp /tmp/sitowiak-setup.XXXXXX)
policy=/usr/sbin/policy-rc.d
saved_policy=

finish() {
    if [ -n "$saved_policy" ]; then
        mv -f "$saved_policy" "$policy"
    elif [ -n "${own_policy:-}" ]; then
        rm -f "$policy"
    fi
}
trap finish EXIT

# The test servers run privately on other ports: the system's innd must not
# come up on port 119, nor danted on 1080. While apt runs, a policy-rc.d
# forbids every service start, unless the one in place forbids them already.
policy_rc=0
[ -x "$policy" ] && { "$policy" inn2 start >/dev/null 2>&1 || policy_rc=$?; }
if [ "$policy_rc" -ne 101 ]; then
    if [ -e "$policy" ]; then
        saved_policy=$(mktemp /tmp/sitowiak-policy-rc.d.XXXXXX)
        cp -p "$policy" "$saved_policy"
    fi
    own_policy=1
    printf '#!/bin/sh\n# Put here by Sitowiak scripts/setup.sh while apt-get runs.\nexit 101\n' \
        > "$policy"
    chmod 755 "$policy"
fi

apt=(apt-get -y -q -o DPkg::Lock::Timeout=300)
# apt-get update does not wait for another apt's lock on the package lists.
for try in 1 2 3 4 5 6; do
    "${apt[@]}" update >>"$log" 2>&1 && break
    [ "$try" -lt 6 ] || { cat "$log"; rm -f "$log"; echo "apt-get update failed"; exit 1; }
    sleep 10
done
if ! "${apt[@]}" install --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
    # inn2's postinst asks INN for its database folder, and INN refuses to
    # read inn.conf when the host's name has no dot and inn.conf sets no
    # domain ("hostname does not resolve or domain not set"), so dpkg leaves
    # inn2 half-configured. Finish the configuration with a copy of the
    # installed inn.conf that names a domain; /etc/news stays as shipped.
    if [ -f /etc/news/inn.conf ] && ! installed inn2 \
        && dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'install ok'; then
        echo "inn2: finishing its configuration with a domain set (the host's name, $(hostname), has no dot)"
        innconf=$(mktemp /tmp/sitowiak-inn.conf.XXXXXX)
        { sed '/^[[:space:]]*domain[[:space:]]*:/d' /etc/news/inn.conf
          echo "domain: localdomain"; } > "$innconf"
        chmod 644 "$innconf"
        INNCONF=$innconf dpkg --configure --pending >>"$log" 2>&1 || true
        rm -f "$innconf"
    fi
    # Whatever the failure left unconfigured or not installed.
    "${apt[@]}" install --no-install-recommends "${missing[@]}" >>"$log" 2>&1 || true
fi

failed=()
for p in "${missing[@]}"; do
    installed "$p" || failed+=("$p")
done
if ((${#failed[@]})); then
    tail -n 40 "$log"
    echo "could not install: ${failed[*]} (apt-get's output: $log)"
    exit 1
fi
rm -f "$log"
