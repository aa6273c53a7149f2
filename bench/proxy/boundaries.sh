#!/usr/bin/env bash
# boundaries.sh BUILD_DIR [SECONDS]: the program's resident memory under two
# hostile loads (boundaries.py): four readers outside the write list that
# send commands the proxy answers itself and never read, and eight readers
# of articles that never end, with a charset forced. Prints the memory
# before, at the peak and after the readers have gone. Nothing is asserted:
# the figures go to docs/PERFORMANCE.md.
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$(cd "${1:?usage: boundaries.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-20}
upstream=$build/bench/bench_proxy_upstream
for f in "$upstream" "$build/sitowiak"; do
    [ -x "$f" ] || { echo "missing $f: build with -DSITOWIAK_BENCH=ON"; exit 1; }
done
begin_scratch sitowiak-bench-boundaries
free_ports 2
proxy_port=$base endless_port=$((base + 1))

# run_proxy UPSTREAM_PORT KODOWANIE WRITE_ACCESS: Sitowiak, headless, in the
# background; sets proxy_pid once it listens.
run_proxy() {
    write_relay_config "$work/config" "$proxy_port" "$1" "$2"
    sed -i "s/^\"WriteAccess\"=.*/\"WriteAccess\"=\"$3\"/" "$work/config/sitowiak/user.reg"
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" "$build/sitowiak" \
        >"$work/proxy.log" 2>&1 &
    proxy_pid=$!
    pids+=($proxy_pid)
    for _ in $(seq 100); do ss -ltnH "sport = :$proxy_port" | grep -q . && return 0; sleep 0.05; done
    echo "the proxy did not start:"; cat "$work/proxy.log"; exit 1
}
stop_proxy() {
    kill -TERM "$proxy_pid"
    wait "$proxy_pid" || true
}

start_upstream "$upstream" 600
run_proxy "$up_port" "" "10.*"
python3 "$(dirname "$0")/boundaries.py" answers "$proxy_pid" "$proxy_port" 4 "$seconds"
stop_proxy

run_proxy "$endless_port" "utf-8" "127.0.0.1"
python3 "$(dirname "$0")/boundaries.py" held "$proxy_pid" "$proxy_port" "$endless_port" 8 "$seconds"
stop_proxy
