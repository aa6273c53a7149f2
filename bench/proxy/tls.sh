#!/usr/bin/env bash
# tls.sh BUILD_DIR [--rounds N]: the relay with TLS to the news server,
# against stunnel doing the same TLS on the same machine in the same run.
# The bench upstream sits behind stunnel in server mode (TLS 1.3, a
# certificate from a CA made here); in front of that, on two paths, the
# same readers go through stunnel in client mode and through Sitowiak with
# "Szyfrowanie" TLS. Both verify the chain and the address against the CA.
# Rounds (15 by default: one takes about 4 s) alternate the two paths,
# rotating their order; medians and ratios are printed, and the CPU time
# each relay itself spent per MB and per connection. Every reply is
# checked byte for byte; an error makes the exit status 1. Nothing is a
# timed assertion. Installs nothing: stunnel4 must be there
# (scripts/setup.sh --bench).
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$(cd "${1:?usage: tls.sh BUILD_DIR [--rounds N]}" && pwd)
shift
rounds=15
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        *) echo "unknown option $1"; exit 2 ;;
    esac
done
client=$build/bench/bench_proxy_client
upstream=$build/bench/bench_proxy_upstream
for f in "$client" "$upstream" "$build/sitowiak"; do
    [ -x "$f" ] || { echo "missing $f: build with -DSITOWIAK_BENCH=ON"; exit 1; }
done
for tool in stunnel openssl ss; do
    command -v $tool >/dev/null || { echo "missing $tool (scripts/setup.sh --bench)"; exit 1; }
done
ulimit -n "$(ulimit -Hn)"
begin_scratch sitowiak-bench-tls

# --- certificates -----------------------------------------------------------
(
    cd "$work"
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key 2>/dev/null
    openssl req -x509 -key ca.key -subj "/CN=Bench CA" -days 2 -out ca.pem
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out server.key 2>/dev/null
    openssl req -new -key server.key -subj "/CN=bench" -out server.csr
    printf 'subjectAltName=IP:127.0.0.1\n' > ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile ext -out server.pem 2>/dev/null
)

# --- the paths ----------------------------------------------------------------
start_upstream "$upstream" 900
free_ports 3
tls_port=$base stunnel_port=$((base + 1)) sitowiak_port=$((base + 2))

# stunnel_conf NAME LINES...: a foreground stunnel with one service.
stunnel_conf() {
    local name=$1
    shift
    {
        printf 'foreground = yes\npid =\nsyslog = no\ndebug = 3\noutput = %s\n' "$work/$name.log"
        printf 'socket = l:TCP_NODELAY=1\nsocket = r:TCP_NODELAY=1\n[%s]\n' "$name"
        printf '%s\n' "$@"
    } >"$work/$name.conf"
    stunnel "$work/$name.conf" >>"$work/$name.log" 2>&1 &
    pids+=($!)
}
stunnel_conf upstream "accept = 127.0.0.1:$tls_port" "connect = 127.0.0.1:$up_port" \
    "cert = $work/server.pem" "key = $work/server.key" "sslVersionMin = TLSv1.2"
stunnel_conf client "client = yes" "accept = 127.0.0.1:$stunnel_port" \
    "connect = 127.0.0.1:$tls_port" "CAfile = $work/ca.pem" "verifyChain = yes" \
    "checkIP = 127.0.0.1" "sslVersionMin = TLSv1.2"
stunnel_client_pid=$!

write_relay_config "$work/config" "$sitowiak_port" "$tls_port"
printf '"Szyfrowanie"="TLS"\n' >>"$work/config/sitowiak/user.reg"
env -u DISPLAY -u WAYLAND_DISPLAY SSL_CERT_FILE="$work/ca.pem" XDG_CONFIG_HOME="$work/config" \
    "$build/sitowiak" >"$work/sitowiak.log" 2>&1 &
pids+=($!)
sitowiak_pid=$!

targets=(stunnel sitowiak)
declare -A port=([stunnel]=$stunnel_port [sitowiak]=$sitowiak_port)
declare -A relay_pid=([stunnel]=$stunnel_client_pid [sitowiak]=$sitowiak_pid)
for t in "${targets[@]}" tls; do
    p=${port[$t]:-$tls_port}
    ok=
    for _ in $(seq 100); do
        ss -ltnH "sport = :$p" | grep -q . && { ok=1; break; }
        sleep 0.05
    done
    [ -n "$ok" ] || { echo "$t did not start"; cat "$work"/*.log; exit 1; }
done
# Both paths give the greeting through TLS before anything is measured.
for t in "${targets[@]}"; do
    out=$("$client" connect "${port[$t]}" 2 1) && [[ $out == *unclosed=0* ]] || { echo "$t: $out"; cat "$work"/*.log; exit 1; }
done

# --- measuring --------------------------------------------------------------
declare -A samples cpu_ticks
failures=0
# CPU time of a process and its threads, finished ones included, in ticks.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
measure() {  # measure FIGURE TARGET CLIENT-ARGS...
    local figure=$1 target=$2 out value before
    shift 2
    before=$(ticks "${relay_pid[$target]}")
    if ! out=$("$@" 2>&1); then
        failures=$((failures + 1))
        echo "  ERROR $figure via $target: $out"
    fi
    value=$(awk '/^RESULT/ {print $2}' <<<"$out")
    samples[$figure|$target]+=" ${value:-0}"
    cpu_ticks[$figure|$target]=$((${cpu_ticks[$figure|$target]:-0} + $(ticks "${relay_pid[$target]}") - before))
}
rounds_of() {  # rounds_of FIGURE CLIENT-ARGS-WITH-PORT-AS-@
    local figure=$1 r i t
    shift
    for ((r = 0; r < rounds; r++)); do
        for ((i = 0; i < ${#targets[@]}; i++)); do
            t=${targets[$(((i + r) % ${#targets[@]}))]}
            local args=()
            for a in "$@"; do args+=("${a//@/${port[$t]}}"); done
            measure "$figure" "$t" "${args[@]}"
        done
    done
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "TLS relay benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $rounds rounds"
echo "load average before: $(load)"
rounds_of "BODY 10 MB" "$client" throughput @ BODY 10485760 8
rounds_of "BODY 100 KB" "$client" throughput @ BODY 102400 800
rounds_of "connect" "$client" connect @ 500 4

echo
echo "Medians of $rounds alternating rounds; both through the same stunnel server."
printf '| %-32s | %9s | %9s | %-7s | %7s |\n' figure stunnel Sitowiak unit S/stun
echo "|----------------------------------|-----------|-----------|---------|---------|"
row() {
    local s w
    s=$(median "${samples[$2|stunnel]}") w=$(median "${samples[$2|sitowiak]}")
    printf '| %-32s | %9s | %9s | %-7s | %7s |\n' "$1" "$s" "$w" "$3" "$(ratio "$w" "$s")"
}
row "BODY 10 MB over TLS" "BODY 10 MB" MB/s
row "BODY 100 KB over TLS" "BODY 100 KB" MB/s
row "connect+handshake+greeting+QUIT" connect conn/s
echo
echo "Both paths share the one stunnel server, which spends more CPU on each"
echo "handshake than either relay: when the CPUs are full it sets the pace of"
echo "both. What each relay itself spends, over all rounds (lower is better):"
printf '| %-32s | %9s | %9s | %-7s | %7s |\n' figure stunnel Sitowiak unit stun/S
echo "|----------------------------------|-----------|-----------|---------|---------|"
hz=$(getconf CLK_TCK)
cpu_row() {  # cpu_row LABEL FIGURE UNITS-PER-ROUND UNIT
    local s w
    s=$(awk -v t="${cpu_ticks[$2|stunnel]}" -v hz="$hz" -v n="$3" -v r="$rounds" 'BEGIN {printf "%.3f", t * 1000 / hz / (n * r)}')
    w=$(awk -v t="${cpu_ticks[$2|sitowiak]}" -v hz="$hz" -v n="$3" -v r="$rounds" 'BEGIN {printf "%.3f", t * 1000 / hz / (n * r)}')
    printf '| %-32s | %9s | %9s | %-7s | %7s |\n' "$1" "$s" "$w" "$4" "$(ratio "$s" "$w")"
}
cpu_row "CPU, BODY 10 MB over TLS" "BODY 10 MB" 80 ms/MB
cpu_row "CPU, BODY 100 KB over TLS" "BODY 100 KB" 78.125 ms/MB
cpu_row "CPU, connect+handshake+QUIT" connect 500 ms/conn
echo "load average after: $(load)"
echo
if [ $failures -gt 0 ]; then
    echo "$failures runs had errors: see above"
    exit 1
fi
echo "No wrong byte, no lost connection, no reader error."
