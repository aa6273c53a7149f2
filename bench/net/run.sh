#!/usr/bin/env bash
# run.sh BUILD_DIR: runs the socket benchmarks of a -DSITOWIAK_BENCH=ON build
# and prints their ratios.
set -euo pipefail
"${1:-build}/bench/bench_net" "${@:2}"
