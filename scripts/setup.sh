#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the tools lack
# (with --bench, also what the benchmarks compare against).
# Safe to run again: it asks apt only for packages that are missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libicu-dev zlib1g-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    netbase libcap2-bin
    fonts-dejavu-core fonts-liberation2
    perl libnet-perl python3
)

# The benchmarks compare against other relays and draw plots.
if [ "${1:-}" = "--bench" ]; then
    packages+=(socat haproxy gnuplot-nox iproute2 util-linux linux-perf)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
