#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures and builds into DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
# Options not given here fall back to these, never to an earlier run's cache.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSITOWIAK_TESTS=ON \
    -DSITOWIAK_SANITIZE=OFF "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
