#!/usr/bin/env bash
# run.sh BUILD_DIR [--rounds N] [--data DIR]: the relay benchmarks of a
# -DSITOWIAK_BENCH=ON build. Starts the bench upstream, socat (nodelay),
# haproxy (tcp mode, one thread) and Sitowiak (no rewriting option set) in
# front of it, all on 127.0.0.1, then measures each figure in rounds that
# alternate the four paths (direct, socat, haproxy, Sitowiak), rotating their
# order every round, and prints the median of each with the ratios. Every
# reply is checked byte for byte; a wrong byte, a lost connection or a
# reader error makes the exit status 1. Nothing here is a timed assertion:
# the figures are printed for a reader to judge. --data DIR also writes the
# throughput-by-size tables that docs/perf/plot.sh draws.
# Installs nothing: socat and haproxy must be there.
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$(cd "${1:?usage: run.sh BUILD_DIR [--rounds N] [--data DIR]}" && pwd)
shift
rounds=5
data=
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --data) data=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
        *) echo "unknown option $1"; exit 2 ;;
    esac
done
client=$build/bench/bench_proxy_client
upstream=$build/bench/bench_proxy_upstream
for f in "$client" "$upstream" "$build/sitowiak"; do
    [ -x "$f" ] || { echo "missing $f: build with -DSITOWIAK_BENCH=ON"; exit 1; }
done
missing=
for tool in socat haproxy taskset ss; do command -v $tool >/dev/null || missing="$missing $tool"; done
[ -z "$missing" ] || { echo "missing:$missing (apt-get install socat haproxy util-linux iproute2)"; exit 1; }

# 500 readers need about a thousand descriptors in each relay.
ulimit -n "$(ulimit -Hn)"
begin_scratch sitowiak-bench

# --- the four paths -------------------------------------------------------
# The upstream stops by itself after 15 minutes should this script be killed.
"$upstream" 0 900 >"$work/upstream.port" &
pids+=($!)
upstream_pid=$!
for _ in $(seq 100); do [ -s "$work/upstream.port" ] && break; sleep 0.05; done
up_port=$(head -1 "$work/upstream.port")
# Three free ports below the kernel's range for outgoing connections.
for _ in $(seq 50); do
    base=$((20000 + RANDOM % 12000))
    port_free $base && port_free $((base + 1)) && port_free $((base + 2)) && break
done
socat_port=$base haproxy_port=$((base + 1)) sitowiak_port=$((base + 2))

socat "TCP-LISTEN:$socat_port,bind=127.0.0.1,reuseaddr,fork,nodelay,backlog=4096" \
    "TCP:127.0.0.1:$up_port,nodelay" 2>"$work/socat.log" &
pids+=($!)
socat_pid=$!

cat >"$work/haproxy.cfg" <<CFG
global
    maxconn 8000
    nbthread 1
defaults
    mode tcp
    timeout connect 5s
    timeout client 60s
    timeout server 60s
listen relay
    bind 127.0.0.1:$haproxy_port
    server upstream 127.0.0.1:$up_port
CFG
haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
pids+=($!)
haproxy_pid=$!

write_relay_config "$work/config" "$sitowiak_port" "$up_port"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" \
    "$build/sitowiak" >"$work/sitowiak.log" 2>&1 &
pids+=($!)
sitowiak_pid=$!

targets=(direct socat haproxy sitowiak)
declare -A port=([direct]=$up_port [socat]=$socat_port [haproxy]=$haproxy_port
                 [sitowiak]=$sitowiak_port)
declare -A pid=([direct]=$upstream_pid [socat]=$socat_pid [haproxy]=$haproxy_pid
                [sitowiak]=$sitowiak_pid)
for t in "${targets[@]}"; do
    ok=
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/${port[$t]}") 2>/dev/null && { ok=1; break; }
        sleep 0.05
    done
    [ -n "$ok" ] || { echo "$t did not start"; cat "$work"/*.log; exit 1; }
done

# --- measuring --------------------------------------------------------------
declare -A samples notes
failures=0

# The order of the paths in round r: rotated by r, so no path always runs
# first or last.
order() {
    local r=$1 i n=${#targets[@]}
    for ((i = 0; i < n; i++)); do echo "${targets[$(((i + r) % n))]}"; done
}

# measure FIGURE TARGET CLIENT-ARGS...: one run of the client; keeps the value.
measure() {
    local figure=$1 target=$2 out
    shift 2
    if ! out=$("$@" 2>&1); then
        failures=$((failures + 1))
        echo "  ERROR $figure via $target: $out"
    fi
    local value
    value=$(awk '/^RESULT/ {print $2}' <<<"$out")
    samples[$figure|$target]+=" ${value:-0}"
    notes[$figure|$target]=$(awk '/^RESULT/ {$1=$2=$3=""; print}' <<<"$out")
}

median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }

# rounds-of FIGURE COUNT CLIENT-ARGS-WITH-PORT-AS-@: COUNT alternating rounds.
rounds_of() {
    local figure=$1 count=$2 r t
    shift 2
    for ((r = 0; r < count; r++)); do
        for t in $(order "$r"); do
            local args=()
            for a in "$@"; do args+=("${a//@/${port[$t]}}"); done
            measure "$figure" "$t" "${args[@]}"
        done
    done
}

rss_kb() {  # the resident memory of a process and its children, in KB
    local total=0 p
    for p in $1 $(pgrep -P "$1" || true); do
        total=$((total + $(awk '/^VmRSS/ {print $2}' "/proc/$p/status" 2>/dev/null || echo 0)))
    done
    echo $total
}

idle_readers=200
measure_memory() {  # RSS with $idle_readers greeted readers against none
    local t=$1 before after
    before=$(rss_kb "${pid[$t]}")
    coproc IDLE { "$client" idle "${port[$t]}" $idle_readers; }
    local ready
    read -r -t 60 ready <&"${IDLE[0]}" || ready=
    sleep 0.5
    after=$(rss_kb "${pid[$t]}")
    echo >&"${IDLE[1]}"
    wait "$IDLE_PID" || failures=$((failures + 1))
    [ "$ready" = "READY $idle_readers" ] || { echo "  ERROR memory via $t: $ready"; failures=$((failures + 1)); }
    printf '  %-9s %8d KB before, %8d KB with %d readers: %6.1f KB per reader\n' "$t" "$before" \
        "$after" $idle_readers "$(awk -v a="$after" -v b="$before" -v n=$idle_readers 'BEGIN {print (a - b) / n}')"
    samples[memory|$t]=$(awk -v a="$after" -v b="$before" -v n=$idle_readers 'BEGIN {printf "%.1f", (a - b) / n}')
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "Relay benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $rounds rounds"
echo "load average before: $(load)"
echo "upstream :$up_port  socat :$socat_port  haproxy :$haproxy_port  sitowiak :$sitowiak_port"
echo
echo "Memory per open reader connection (RSS, direct = the upstream itself):"
for t in "${targets[@]}"; do measure_memory "$t"; done

kb=1024
mb=$((1024 * 1024))
sizes=(16384 102400 1048576 10485760)
declare -A count_of=([16384]=4000 [102400]=800 [1048576]=80 [10485760]=8)
for verb in BODY ARTICLE; do
    for size in "${sizes[@]}"; do
        rounds_of "$verb $size" "$rounds" "$client" throughput @ "$verb" "$size" "${count_of[$size]}"
    done
done

# Pipelined: 100 ARTICLE commands in one write, replies checked per batch.
rounds_of "pipelined" "$rounds" "$client" pipelined @ ARTICLE 16384 4000 100

# All four processes and the client on CPU 0: the added latency is then the
# relay's own work, not a hand-over between cores.
for t in "${targets[@]}"; do taskset -apc 0 "${pid[$t]}" >/dev/null; done
rounds_of "STAT" "$rounds" taskset -c 0 "$client" latency @ 5000
for t in "${targets[@]}"; do taskset -apc 0-$(($(nproc) - 1)) "${pid[$t]}" >/dev/null; done

rounds_of "connect" "$rounds" "$client" connect @ 1000 4
rounds_of "readers" 2 "$client" readers @ "$up_port" 500 50 $((20 * kb))

# --- the table ------------------------------------------------------------------
declare -A med
for key in "${!samples[@]}"; do med[$key]=$(median "${samples[$key]}"); done
row() {  # row LABEL FIGURE UNIT
    local label=$1 f=$2 unit=$3 d s h w
    d=${med[$f|direct]} s=${med[$f|socat]} h=${med[$f|haproxy]} w=${med[$f|sitowiak]}
    printf '| %-28s | %9s | %9s | %9s | %9s | %-7s | %5s | %5s | %5s | %5s | %5s |\n' "$label" \
        "$d" "$s" "$h" "$w" "$unit" "$(ratio "$w" "$s")" "$(ratio "$w" "$h")" \
        "$(ratio "$s" "$d")" "$(ratio "$h" "$d")" "$(ratio "$w" "$d")"
}
echo
echo "Medians of $rounds alternating rounds (readers: 2 rounds). S = Sitowiak."
printf '| %-28s | %9s | %9s | %9s | %9s | %-7s | %5s | %5s | %5s | %5s | %5s |\n' figure direct \
    socat haproxy Sitowiak unit S/soc S/hap soc/d hap/d S/d
echo "|------------------------------|-----------|-----------|-----------|-----------|---------|-------|-------|-------|-------|-------|"
label_of() {
    case $1 in
        16384) echo "16 KB" ;; 102400) echo "100 KB" ;; 1048576) echo "1 MB" ;; 10485760) echo "10 MB" ;;
    esac
}
for size in "${sizes[@]}"; do row "BODY $(label_of $size) (pass-through)" "BODY $size" MB/s; done
for size in "${sizes[@]}"; do row "ARTICLE $(label_of $size) (held)" "ARTICLE $size" MB/s; done
row "ARTICLE 16 KB, 100 per write" pipelined MB/s
row "STAT round trip, one CPU" STAT "us"
row "connect+greeting+QUIT" connect "conn/s"
row "500 readers x 50 x 20 KB" readers "req/s"
row "memory per idle reader" memory "KB"

added() { awk -v a="$1" -v d="$2" 'BEGIN {printf "%.1f", a - d}'; }
d=${med[STAT|direct]}
echo
echo "Added STAT latency over direct (us): socat $(added "${med[STAT|socat]}" "$d"), haproxy" \
    "$(added "${med[STAT|haproxy]}" "$d"), Sitowiak $(added "${med[STAT|sitowiak]}" "$d")"
echo "Sitowiak RSS after all rounds: $(rss_kb "$sitowiak_pid") KB; load average after: $(load)"

echo
echo "Against the targets (Sitowiak vs socat):"
verdict() {  # verdict LABEL VALUE BOUND (holds when VALUE >= BOUND)
    awk -v l="$1" -v v="$2" -v b="$3" 'BEGIN {printf "  %-34s %s (%.2f against %.2f)\n", l, (v >= b ? "holds" : "DOES NOT HOLD"), v, b}'
}
at_most() {  # at_most LABEL VALUE BOUND (holds when VALUE <= BOUND)
    awk -v l="$1" -v v="$2" -v b="$3" 'BEGIN {printf "  %-34s %s (%.2f against %.2f)\n", l, (v <= b ? "holds" : "DOES NOT HOLD"), v, b}'
}
verdict "BODY 100 KB >= socat" "${med[BODY 102400|sitowiak]}" "${med[BODY 102400|socat]}"
verdict "BODY 10 MB >= socat" "${med[BODY 10485760|sitowiak]}" "${med[BODY 10485760|socat]}"
verdict "ARTICLE 100 KB >= socat" "${med[ARTICLE 102400|sitowiak]}" "${med[ARTICLE 102400|socat]}"
verdict "ARTICLE 10 MB >= 0.7 socat" "${med[ARTICLE 10485760|sitowiak]}" \
    "$(awk -v s="${med[ARTICLE 10485760|socat]}" 'BEGIN {print 0.7 * s}')"
at_most "added STAT latency <= socat's" "$(added "${med[STAT|sitowiak]}" "$d")" \
    "$(added "${med[STAT|socat]}" "$d")"
verdict "connection rate >= socat" "${med[connect|sitowiak]}" "${med[connect|socat]}"
verdict "request rate >= socat" "${med[readers|sitowiak]}" "${med[readers|socat]}"

if [ -n "$data" ]; then
    for verb in BODY ARTICLE; do
        {
            echo "# bytes direct socat haproxy sitowiak (MB/s, medians)"
            for size in "${sizes[@]}"; do
                echo "$size ${med[$verb $size|direct]} ${med[$verb $size|socat]}" \
                    "${med[$verb $size|haproxy]} ${med[$verb $size|sitowiak]}"
            done
        } >"$data/relay-$(tr 'A-Z' 'a-z' <<<"$verb").dat"
    done
fi

echo
if [ $failures -gt 0 ]; then
    echo "$failures runs had errors (wrong bytes, lost connections or reader errors): see above"
    exit 1
fi
echo "No wrong byte, no lost connection, no reader error."
