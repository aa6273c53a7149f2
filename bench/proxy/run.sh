#!/usr/bin/env bash
# run.sh BUILD_DIR [--rounds N] [--quick] [--data DIR]: the relay benchmarks
# of a -DSITOWIAK_BENCH=ON build. Starts the bench upstream, socat (nodelay),
# haproxy (tcp mode, one thread) and Sitowiak (no rewriting option set) in
# front of it, all on 127.0.0.1, then measures each figure in rounds that
# alternate the four paths (direct, socat, haproxy, Sitowiak), rotating their
# order every round, and prints the median of each with the ratios against
# socat and haproxy, and the memory each side took. A second Sitowiak that
# re-encodes overviews to utf-8 (Kodowanie utf-8, IgnorowanieBlednych on) is
# measured against haproxy passing the same overview unfiltered. Last, one
# reader's STAT round trip alone and beside 10 000 idle readers, and the
# memory each idle reader costs.
# Every reply is checked byte for byte (the re-encoded overview by its lines
# and end); a wrong byte, a lost connection or a reader error makes the exit
# status 1. Nothing here is a timed assertion: the figures are printed for a
# reader to judge. --quick: one round of smaller counts, a smoke test of a
# minute. --data DIR also writes the tables that docs/perf/plot.sh draws
# (throughput by size; a fresh Sitowiak's memory every 10 ms while it
# passes the largest overview, relay-memory.dat).
# Installs nothing: socat and haproxy must be there.
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$(cd "${1:?usage: run.sh BUILD_DIR [--rounds N] [--quick] [--data DIR]}" && pwd)
shift
rounds=3
quick=
data=
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --quick) quick=1; rounds=1; shift ;;
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

# Many readers need two descriptors each in a relay: take all there are.
ulimit -n "$(ulimit -Hn)"
begin_scratch sitowiak-bench

# --- the paths --------------------------------------------------------------
start_upstream "$upstream" 1800
free_ports 5
socat_port=$base haproxy_port=$((base + 1)) sitowiak_port=$((base + 2)) utf8_port=$((base + 3))

socat "TCP-LISTEN:$socat_port,bind=127.0.0.1,reuseaddr,fork,nodelay,backlog=4096" \
    "TCP:127.0.0.1:$up_port,nodelay" 2>"$work/socat.log" &
pids+=($!)
socat_pid=$!

# The idle crowd of the last figure: 10 000 readers, or as many as fit the
# descriptors a process may have, two per reader (the reader's and its
# server connection), with some to spare (haproxy wants about 200).
crowd=10000
[ -n "$quick" ] && crowd=2000
fit=$((($(ulimit -n) - 300) / 2))
crowd_cut=
[ "$crowd" -gt "$fit" ] && { crowd_cut=$crowd; crowd=$fit; }
cat >"$work/haproxy.cfg" <<CFG
global
    maxconn $((crowd + 50))
    nbthread 1
defaults
    mode tcp
    maxconn $((crowd + 50))
    timeout connect 5s
    timeout client 120s
    timeout server 120s
listen relay
    bind 127.0.0.1:$haproxy_port
    server upstream 127.0.0.1:$up_port
CFG
haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
pids+=($!)
haproxy_pid=$!

start_sitowiak() {  # start_sitowiak NAME PORT [KODOWANIE IGNOROWANIE]; sets started_pid
    write_relay_config "$work/$1" "$2" "$up_port" "${3:-}" "${4:-0}"
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/$1" \
        "$build/sitowiak" >"$work/$1.log" 2>&1 &
    pids+=($!)
    started_pid=$!
}
start_sitowiak sitowiak "$sitowiak_port"
sitowiak_pid=$started_pid
start_sitowiak utf8 "$utf8_port" utf-8 1
utf8_pid=$started_pid

targets=(direct socat haproxy sitowiak)
declare -A port=([direct]=$up_port [socat]=$socat_port [haproxy]=$haproxy_port
                 [sitowiak]=$sitowiak_port [utf8]=$utf8_port)
declare -A pid=([direct]=$upstream_pid [socat]=$socat_pid [haproxy]=$haproxy_pid
                [sitowiak]=$sitowiak_pid [utf8]=$utf8_pid)
for t in "${targets[@]}" utf8; do
    ok=
    for _ in $(seq 200); do
        (exec 3<>"/dev/tcp/127.0.0.1/${port[$t]}") 2>/dev/null && { ok=1; break; }
        sleep 0.05
    done
    [ -n "$ok" ] || { echo "$t did not start"; cat "$work"/*.log; exit 1; }
done

# --- measuring --------------------------------------------------------------
declare -A samples notes peak
failures=0

# The order of the paths in round r: rotated by r, so no path always runs
# first or last.
order() {
    local r=$1 i n=${#run_targets[@]}
    for ((i = 0; i < n; i++)); do echo "${run_targets[$(((i + r) % n))]}"; done
}

rss_kb() {  # the resident memory of a process and its children, in KB
    local total=0 p
    for p in $1 $(pgrep -P "$1" || true); do
        total=$((total + $(awk '/^VmRSS/ {print $2}' "/proc/$p/status" 2>/dev/null || echo 0)))
    done
    echo $total
}

# measure FIGURE TARGET CLIENT-ARGS...: one run of the client; keeps the
# value and the highest memory of the target's processes meanwhile.
measure() {
    local figure=$1 target=$2 out
    shift 2
    coproc WATCH { "$client" memwatch "${pid[$target]}" 20; }
    local watch_in=${WATCH[1]} watch_out=${WATCH[0]} watch_pid=$WATCH_PID
    if ! out=$("$@" 2>&1); then
        failures=$((failures + 1))
        echo "  ERROR $figure via $target: $out"
    fi
    exec {watch_in}>&-
    local top
    read -r _ top <&"$watch_out" || top=0
    wait "$watch_pid" || true
    [ "${top:-0}" -gt "${peak[$figure|$target]:-0}" ] && peak[$figure|$target]=$top
    local value
    value=$(awk '/^RESULT/ {print $2}' <<<"$out")
    samples[$figure|$target]+=" ${value:-0}"
    value=$(grep -o 'seconds=[0-9.]*' <<<"$out" | cut -d= -f2) || true
    samples[$figure seconds|$target]+=" ${value:-0}"
    notes[$figure|$target]=$(awk '/^RESULT/ {$1=$2=$3=""; print}' <<<"$out")
}

median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (a > 0 && b > 0) printf "%.2f", a / b; else print "-"}'; }

# rounds_of FIGURE COUNT CLIENT-ARGS-WITH-PORT-AS-@: COUNT alternating
# rounds over the paths in run_targets (default: all four).
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
run_targets=("${targets[@]}")

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
echo "Relay benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $rounds rounds${quick:+ (quick)}"
echo "load average before: $(load)"
echo "upstream :$up_port  socat :$socat_port  haproxy :$haproxy_port  sitowiak :$sitowiak_port" \
    " sitowiak utf-8 :$utf8_port"
declare -A idle_rss
for t in "${targets[@]}" utf8; do idle_rss[$t]=$(rss_kb "${pid[$t]}"); done
echo
echo "Memory per open reader connection (RSS, direct = the upstream itself):"
for t in "${targets[@]}"; do measure_memory "$t"; done

kb=1024
sizes=(16384 102400 1048576 10485760)
declare -A count_of=([16384]=4000 [102400]=800 [1048576]=80 [10485760]=8)
big_xover=1000000 xover_posts=500 readers_per=(200 40 16) connections=1000
if [ -n "$quick" ]; then
    count_of=([16384]=1000 [102400]=200 [1048576]=20 [10485760]=2)
    big_xover=300000 xover_posts=100 readers_per=(50 10 4) connections=300
fi
for verb in BODY ARTICLE; do
    for size in "${sizes[@]}"; do
        rounds_of "$verb $size" "$rounds" "$client" throughput @ "$verb" "$size" "${count_of[$size]}"
    done
done

# Pipelined: 100 ARTICLE commands in one write, replies checked per batch.
rounds_of "pipelined" "$rounds" "$client" pipelined @ ARTICLE 16384 "${count_of[16384]}" 100

# Overviews of 100 000 lines (13.7 MB) and of the large one (137 MB at a
# million lines), and posts of 20 KB articles.
rounds_of "XOVER 100000" "$rounds" "$client" xover @ 100000 3
rounds_of "XOVER big" "$rounds" "$client" xover @ "$big_xover" 1
rounds_of "POST" "$rounds" "$client" post @ $((20 * kb)) "$xover_posts"

# All four processes and the client on CPU 0: the added latency is then the
# relay's own work, not a hand-over between cores.
for t in "${targets[@]}"; do taskset -apc 0 "${pid[$t]}" >/dev/null; done
rounds_of "STAT" "$rounds" taskset -c 0 "$client" latency @ 5000
for t in "${targets[@]}"; do taskset -apc 0-$(($(nproc) - 1)) "${pid[$t]}" >/dev/null; done

rounds_of "connect" "$rounds" "$client" connect @ "$connections" 4
rounds_of "readers 10" "$rounds" "$client" readers @ "$up_port" 10 "${readers_per[0]}" $((20 * kb))
rounds_of "readers 100" "$rounds" "$client" readers @ "$up_port" 100 "${readers_per[1]}" $((20 * kb))
rounds_of "readers 500" "$rounds" "$client" readers @ "$up_port" 500 "${readers_per[2]}" $((20 * kb))

# The re-encoding Sitowiak against haproxy passing the same overview as it is,
# three overviews a round: one takes a quarter of a second, about what the
# machine's other tenants can shift it by.
run_targets=(haproxy utf8)
rounds_of "XOVER utf-8" "$rounds" "$client" xover @ "$big_xover" 3 filtered
run_targets=("${targets[@]}")

# --- the table ------------------------------------------------------------------
declare -A med
for key in "${!samples[@]}"; do med[$key]=$(median "${samples[$key]}"); done
# row LABEL FIGURE UNIT [lower]: ratios are "how many times as good", so for
# a time (lower) they are the other side's value over Sitowiak's.
row() {
    local label=$1 f=$2 unit=$3 lower=${4:-} d s h w
    d=${med[$f|direct]:-} s=${med[$f|socat]:-} h=${med[$f|haproxy]:-} w=${med[$f|sitowiak]:-}
    if [ -n "$lower" ]; then
        rs=$(ratio "$s" "$w") rh=$(ratio "$h" "$w") sd=$(ratio "$d" "$s") hd=$(ratio "$d" "$h") wd=$(ratio "$d" "$w")
    else
        rs=$(ratio "$w" "$s") rh=$(ratio "$w" "$h") sd=$(ratio "$s" "$d") hd=$(ratio "$h" "$d") wd=$(ratio "$w" "$d")
    fi
    printf '| %-30s | %9s | %9s | %9s | %9s | %-7s | %5s | %5s | %5s | %5s | %5s |\n' "$label" \
        "$d" "$s" "$h" "$w" "$unit" "$rs" "$rh" "$sd" "$hd" "$wd"
}
echo
echo "Medians of $rounds alternating rounds. S = Sitowiak; ratios > 1 mean S is better"
echo "(for times: the other's time over S's)."
printf '| %-30s | %9s | %9s | %9s | %9s | %-7s | %5s | %5s | %5s | %5s | %5s |\n' figure direct \
    socat haproxy Sitowiak unit S/soc S/hap soc/d hap/d S/d
echo "|--------------------------------|-----------|-----------|-----------|-----------|---------|-------|-------|-------|-------|-------|"
label_of() {
    case $1 in
        16384) echo "16 KB" ;; 102400) echo "100 KB" ;; 1048576) echo "1 MB" ;; 10485760) echo "10 MB" ;;
    esac
}
for size in "${sizes[@]}"; do row "BODY $(label_of $size) (pass-through)" "BODY $size" MB/s; done
for size in "${sizes[@]}"; do row "ARTICLE $(label_of $size) (not held)" "ARTICLE $size" MB/s; done
row "ARTICLE 16 KB, 100 per write" pipelined MB/s
row "XOVER 100 000 lines" "XOVER 100000" MB/s
row "XOVER $big_xover lines" "XOVER big" MB/s
row "$xover_posts x POST of 20 KB" POST posts/s
row "STAT round trip, one CPU" STAT us lower
row "connect+greeting+QUIT" connect conn/s
row "10 readers x 20 KB" "readers 10" req/s
row "100 readers x 20 KB" "readers 100" req/s
row "500 readers x 20 KB" "readers 500" req/s
row "memory per idle reader" memory KB lower

added() { awk -v a="$1" -v d="$2" 'BEGIN {printf "%.1f", a - d}'; }
d=${med[STAT|direct]}
echo
echo "Added STAT latency over direct (us): socat $(added "${med[STAT|socat]}" "$d"), haproxy" \
    "$(added "${med[STAT|haproxy]}" "$d"), Sitowiak $(added "${med[STAT|sitowiak]}" "$d")"
echo
echo "XOVER of $big_xover lines re-encoded to utf-8 (Kodowanie utf-8, IgnorowanieBlednych on)"
echo "against haproxy passing it unfiltered. Decoding makes the lines shorter, so the"
echo "figure is the time for the same lines (its ratio: haproxy's time over Sitowiak's):"
echo "  haproxy ${med[XOVER utf-8 seconds|haproxy]} s (${med[XOVER utf-8|haproxy]} MB/s)," \
    "Sitowiak utf-8 ${med[XOVER utf-8 seconds|utf8]} s (${med[XOVER utf-8|utf8]} MB/s of its shorter output)"
echo "  ratio $(ratio "${med[XOVER utf-8 seconds|haproxy]}" "${med[XOVER utf-8 seconds|utf8]}") (goal 0.70);" \
    "in bytes per second $(ratio "${med[XOVER utf-8|utf8]}" "${med[XOVER utf-8|haproxy]}")"

# --- memory -------------------------------------------------------------------
mb() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
above() { awk -v k="$1" -v i="$2" 'BEGIN {printf "%.1f", (k - i) / 1024}'; }
echo
echo "Memory (RSS, MB; socat with its children): idle at the start, highest during each"
echo "figure above idle (any round), and after every reader has gone."
printf '| %-22s | %8s | %8s | %8s | %8s |\n' figure direct socat haproxy Sitowiak
echo "|------------------------|----------|----------|----------|----------|"
printf '| %-22s | %8s | %8s | %8s | %8s |\n' "idle" "$(mb "${idle_rss[direct]}")" \
    "$(mb "${idle_rss[socat]}")" "$(mb "${idle_rss[haproxy]}")" "$(mb "${idle_rss[sitowiak]}")"
for f in "BODY 10485760" "ARTICLE 10485760" "XOVER 100000" "XOVER big" POST "readers 500"; do
    printf '| %-22s | %8s | %8s | %8s | %8s |\n' "peak, ${f/10485760/10 MB}" \
        "$(above "${peak[$f|direct]:-0}" "${idle_rss[direct]}")" \
        "$(above "${peak[$f|socat]:-0}" "${idle_rss[socat]}")" \
        "$(above "${peak[$f|haproxy]:-0}" "${idle_rss[haproxy]}")" \
        "$(above "${peak[$f|sitowiak]:-0}" "${idle_rss[sitowiak]}")"
done
sleep 1
declare -A after_rss
for t in "${targets[@]}" utf8; do after_rss[$t]=$(rss_kb "${pid[$t]}"); done
printf '| %-22s | %8s | %8s | %8s | %8s |\n' "after, above idle" \
    "$(above "${after_rss[direct]}" "${idle_rss[direct]}")" \
    "$(above "${after_rss[socat]}" "${idle_rss[socat]}")" \
    "$(above "${after_rss[haproxy]}" "${idle_rss[haproxy]}")" \
    "$(above "${after_rss[sitowiak]}" "${idle_rss[sitowiak]}")"
echo "Sitowiak utf-8: idle $(mb "${idle_rss[utf8]}") MB, peak during its overview" \
    "+$(above "${peak[XOVER utf-8|utf8]:-0}" "${idle_rss[utf8]}") MB," \
    "after +$(above "${after_rss[utf8]}" "${idle_rss[utf8]}") MB"

# --- 10 000 idle readers --------------------------------------------------------
# One reader's STAT round trip alone and beside the idle crowd, and the
# memory each idle reader costs (each has its upstream connection too). The
# crowd is cut to the descriptors the relays can have (see above).
if [ -n "$crowd_cut" ]; then
    echo
    echo "Only $crowd idle readers fit $(ulimit -n) descriptors per process (not $crowd_cut)."
fi
echo
echo "$crowd idle readers beside one active reader (STAT round trips, median of 2000;"
echo "the crowd opened three times, each time beside the times alone before and after;"
echo "the median of the three):"
for t in haproxy sitowiak; do
    before=$(rss_kb "${pid[$t]}")
    coproc CROWD { "$client" crowd "${port[$t]}" "$crowd" 2000; }
    crowd_in=${CROWD[1]} crowd_out=${CROWD[0]} crowd_pid=$CROWD_PID
    ready=
    read -r -t 300 ready <&"$crowd_out" || ready=
    sleep 1
    with=$(rss_kb "${pid[$t]}")
    echo >&"$crowd_in"
    result=
    read -r -t 300 result <&"$crowd_out" || result=
    wait "$crowd_pid" || { failures=$((failures + 1)); echo "  ERROR crowd via $t: $ready $result"; }
    printf '  %-9s %s; %.2f KB per idle reader (%s)\n' "$t" "${result#RESULT }" \
        "$(awk -v a="$with" -v b="$before" -v n="$crowd" 'BEGIN {print (a - b) / n}')" "$ready"
done

# The relay's memory during the large overview, alone, every 10 ms.
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
    # A Sitowiak of its own, so the series starts from a fresh process.
    start_sitowiak plot $((base + 4))
    plot_pid=$started_pid
    for _ in $(seq 200); do
        (exec 3<>"/dev/tcp/127.0.0.1/$((base + 4))") 2>/dev/null && break
        sleep 0.05
    done
    sleep 1
    coproc SERIES { "$client" memwatch "$plot_pid" 10 "$data/relay-memory.dat"; }
    series_in=${SERIES[1]} series_pid=$SERIES_PID
    sleep 0.5
    out=$("$client" xover $((base + 4)) "$big_xover" 1) || failures=$((failures + 1))
    sleep 2
    exec {series_in}>&-
    wait "$series_pid" || true
    echo
    echo "Memory series of the $big_xover-line overview written ($out)."
fi

echo
echo "load average after: $(load)"
if [ $failures -gt 0 ]; then
    echo "$failures runs had errors (wrong bytes, lost connections or reader errors): see above"
    exit 1
fi
echo "No wrong byte, no lost connection, no reader error."
