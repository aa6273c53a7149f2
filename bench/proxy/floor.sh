#!/usr/bin/env bash
# floor.sh BUILD_DIR [ROUNDS]: haproxy, the floor relay (bench_proxy_floor:
# one epoll loop that only reads and writes) and Sitowiak with no rewriting
# option, side by side on pass-through BODY of 16 KB and 100 KB, in ROUNDS
# (default 9) rounds whose order rotates. Prints the medians, the ratios
# against haproxy and each relay's own CPU time per figure (from
# /proc/PID/schedstat), so a ratio can be read against what a relay that
# does nothing with the bytes gets on this machine at the same moment.
# Installs nothing: haproxy must be there (scripts/setup.sh --bench).
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$(cd "${1:?usage: floor.sh BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-9}
client=$build/bench/bench_proxy_client
command -v haproxy >/dev/null || { echo "missing haproxy (scripts/setup.sh --bench)"; exit 1; }

begin_scratch sitowiak-floor
start_upstream "$build/bench/bench_proxy_upstream" 600
free_ports 3
declare -A port=([haproxy]=$base [floor]=$((base + 1)) [sitowiak]=$((base + 2)))
declare -A pid

cat >"$work/haproxy.cfg" <<CFG
global
    nbthread 1
defaults
    mode tcp
    timeout connect 5s
    timeout client 120s
    timeout server 120s
listen relay
    bind 127.0.0.1:${port[haproxy]}
    server upstream 127.0.0.1:$up_port
CFG
haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
pids+=($!)
pid[haproxy]=$!
"$build/bench/bench_proxy_floor" "${port[floor]}" "$up_port" >"$work/floor.log" 2>&1 &
pids+=($!)
pid[floor]=$!
write_relay_config "$work/config" "${port[sitowiak]}" "$up_port"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" \
    "$build/sitowiak" >"$work/sitowiak.log" 2>&1 &
pids+=($!)
pid[sitowiak]=$!
targets=(haproxy floor sitowiak)
for t in "${targets[@]}"; do
    for _ in $(seq 200); do
        (exec 3<>"/dev/tcp/127.0.0.1/${port[$t]}") 2>/dev/null && continue 2
        sleep 0.05
    done
    echo "$t did not start"; cat "$work"/*.log; exit 1
done

cpu_ns() { cut -d' ' -f1 "/proc/$1/schedstat"; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (a > 0 && b > 0) printf "%.2f", a / b; else print "-"}'; }

declare -A mbs cpu
figures=("BODY 16384 4000" "BODY 102400 800")
echo "Relay floor, $(date -u '+%Y-%m-%d %H:%M') UTC, $(nproc) CPUs, $rounds rounds," \
    "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 0; r < rounds; r++)); do
    for f in "${figures[@]}"; do
        for ((i = 0; i < ${#targets[@]}; i++)); do
            t=${targets[$(((i + r) % ${#targets[@]}))]}
            read -r verb size count <<<"$f"
            before=$(cpu_ns "${pid[$t]}")
            out=$("$client" throughput "${port[$t]}" "$verb" "$size" "$count")
            after=$(cpu_ns "${pid[$t]}")
            grep -q "errors=0" <<<"$out" || { echo "ERROR $f via $t: $out"; exit 1; }
            mbs[$f|$t]+=" $(awk '/^RESULT/ {print $2}' <<<"$out")"
            cpu[$f|$t]+=" $(((after - before) / 1000000))"
        done
    done
done

printf '| %-16s | %8s | %8s | %8s | %6s | %6s | %7s | %17s |\n' figure haproxy floor \
    Sitowiak fl/hap S/hap S/floor "CPU ms hap/fl/S"
echo "|------------------|----------|----------|----------|--------|--------|---------|-------------------|"
for f in "${figures[@]}"; do
    read -r verb size _ <<<"$f"
    h=$(median "${mbs[$f|haproxy]}") fl=$(median "${mbs[$f|floor]}") s=$(median "${mbs[$f|sitowiak]}")
    c="$(median "${cpu[$f|haproxy]}")/$(median "${cpu[$f|floor]}")/$(median "${cpu[$f|sitowiak]}")"
    printf '| %-16s | %8s | %8s | %8s | %6s | %6s | %7s | %17s |\n' "$verb $((size / 1024)) KB" \
        "$h" "$fl" "$s" "$(ratio "$fl" "$h")" "$(ratio "$s" "$h")" "$(ratio "$s" "$fl")" "$c"
done
echo "MB/s, medians; CPU: each relay's own time per run of the figure."
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
