#!/usr/bin/env bash
# run.sh BUILD_DIR [--short]: the load-and-fault run against the program in
# BUILD_DIR (configured with -DSITOWIAK_BENCH=ON). 200 readers; the full run
# is 8 rounds of 55 s with a 200 MB overview (about 9 minutes), --short is
# 4 rounds of 15 s with a 20 MB overview (for CI). Then the memory rounds: a
# command flood (30 s, --short 10 s) and, in the full run, an ARTICLE reply
# of 320 MB that never ends. Prints one line per round and a verdict; exits
# non-zero on any fault.
set -euo pipefail
build=$(cd "$1" && pwd)
shift
rounds=8 seconds=55 big=200 flood=30 endless=320
if [ "${1:-}" = "--short" ]; then rounds=4 seconds=15 big=20 flood=10 endless=0; fi
for tool in sitowiak sitowiak-filter sitowiak-load; do
    [ -x "$build/$tool" ] || { echo "no $build/$tool: build with -DSITOWIAK_BENCH=ON"; exit 2; }
done
work=$(mktemp -d /tmp/sitowiak-load.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
timeout 600 "$build/sitowiak-load" --program "$build/sitowiak" --filter "$build/sitowiak-filter" \
    --work "$work" --rounds "$rounds" --round-seconds "$seconds" --readers "${READERS:-200}" \
    --big-mb "$big" --flood-seconds "$flood" --endless-mb "$endless" || status=$?
if [ "$status" -ne 0 ] && [ -s "$work/proxy.log" ]; then
    echo "-- proxy output"; tail -n 40 "$work/proxy.log"
fi
exit $status
