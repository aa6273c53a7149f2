#!/usr/bin/env bash
# profile.sh BUILD_DIR VERB SIZE COUNT [perf report options...]: profiles
# the relay alone. Starts the bench upstream and Sitowiak (no rewriting
# option set), records the relay with perf while one reader fetches COUNT
# replies of `VERB SIZE` through it, prints the reader's result line and
# the perf report (default: --no-children --sort symbol -g none).
# VERB connect: COUNT connections (connect, greeting, QUIT) from SIZE
# threads; VERB STAT: COUNT round trips (SIZE ignored); VERB POST: COUNT
# posts of SIZE bytes; VERB XOVER: COUNT
# overviews of SIZE lines. KODOWANIE=NAME in the environment profiles a
# relay that re-encodes into NAME with IgnorowanieBlednych on;
# PROFILE_SKIP=REGEX leaves matching report lines out (e.g. '\[k\]' for the
# relay's own and its libraries' symbols alone).
# Installs nothing: perf must be there (scripts/setup.sh --bench).
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$(cd "${1:?usage: profile.sh BUILD_DIR VERB SIZE COUNT [report options]}" && pwd)
verb=${2:?verb}
size=${3:?size}
count=${4:?count}
shift 4
report=("$@")
[ ${#report[@]} -gt 0 ] || report=(--no-children --sort symbol -g none)
command -v perf >/dev/null || { echo "missing perf (apt-get install linux-perf)"; exit 1; }

begin_scratch sitowiak-profile

start_upstream "$build/bench/bench_proxy_upstream" 600
free_ports 1
port=$base
if [ -n "${KODOWANIE:-}" ]; then
    write_relay_config "$work/config" "$port" "$up_port" "$KODOWANIE" 1
else
    write_relay_config "$work/config" "$port" "$up_port"
fi
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" \
    "$build/sitowiak" >"$work/sitowiak.log" 2>&1 &
sitowiak_pid=$!
pids+=($sitowiak_pid)
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
done

perf record -F 1999 -g -o "$work/perf.data" -p "$sitowiak_pid" >/dev/null 2>&1 &
perf_pid=$!
sleep 0.5
case $verb in
    connect) "$build/bench/bench_proxy_client" connect "$port" "$count" "$size" ;;
    STAT) "$build/bench/bench_proxy_client" latency "$port" "$count" ;;
    POST) "$build/bench/bench_proxy_client" post "$port" "$size" "$count" ;;
    XOVER) "$build/bench/bench_proxy_client" xover "$port" "$size" "$count" ${KODOWANIE:+filtered} ;;
    *) "$build/bench/bench_proxy_client" throughput "$port" "$verb" "$size" "$count" ;;
esac
kill -INT "$perf_pid"
wait "$perf_pid" || true
perf report -i "$work/perf.data" --stdio "${report[@]}" 2>/dev/null | grep -v "^#" | grep . | grep -v "${PROFILE_SKIP:-^$}" | head -40
