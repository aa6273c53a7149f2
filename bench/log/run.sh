#!/usr/bin/env bash
# run.sh BUILD_DIR [MB [ROUNDS [hex]]]: the log window under a burst, against
# a sink that drops the entries (a -DSITOWIAK_BENCH=ON build).
set -euo pipefail
"${1:-build}/bench/bench_log" "${@:2}"
