# Ports, and starting and stopping the proxy, in the end-to-end tests,
# sourced by them. Before launching, the caller sets work (its private
# folder), build (the build tree) and proxy_port.
proxy_pid=

port_in_use() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null || (exec 3<>"/dev/tcp/::1/$1") 2>/dev/null
}

# free_ports N: the first of N consecutive ports that nothing uses, below the
# range the kernel gives outgoing connections.
free_ports() {
    local base n
    for _ in $(seq 50); do
        base=$((20000 + RANDOM % 10000))
        for ((n = 0; n < $1; n++)); do port_in_use $((base + n)) && continue 2; done
        echo "$base"
        return 0
    done
    echo "FAIL: found no $1 free ports" >&2
    return 1
}

# listening PORT: waits (at most 5 s) until something listens on PORT.
listening() {
    for _ in $(seq 100); do
        ss -ltnH "sport = :$1" | grep -q . && return 0
        sleep 0.05
    done
    return 1
}

# launch_proxy [VAR=VALUE...] < SETTINGS: stops a running proxy, makes the
# lines of SETTINGS ("Name"="value") the user's whole hive, starts the
# program headless with the extra environment given and waits until it
# listens. OpenSSL's trust overrides of the caller's environment are dropped:
# a test that wants one passes it.
launch_proxy() {
    stop_proxy
    mkdir -p "$work/config/sitowiak"
    {
        printf '%s\n\n%s\n' 'Windows Registry Editor Version 5.00' \
            '[HKEY_CURRENT_USER\SOFTWARE\Pląskun\Sitowiak\Parametry]'
        cat
    } >"$work/config/sitowiak/user.reg"
    env -u DISPLAY -u WAYLAND_DISPLAY -u SSL_CERT_FILE -u SSL_CERT_DIR "$@" \
        XDG_CONFIG_HOME="$work/config" "$build/sitowiak" >"$work/proxy.log" 2>&1 &
    proxy_pid=$!
    listening "$proxy_port" && return 0
    echo "FAIL: the proxy did not start:"; cat "$work/proxy.log"; exit 1
}

# Ends the proxy as a user would (SIGTERM); anything but a clean exit fails.
stop_proxy() {
    if [ -n "$proxy_pid" ]; then
        kill -TERM "$proxy_pid"
        local rc=0
        wait "$proxy_pid" || rc=$?
        proxy_pid=
        [ "$rc" -eq 0 ] || { echo "FAIL: the proxy exited with $rc"; cat "$work/proxy.log"; exit 1; }
    fi
}

# begin_inn_test PREFIX PORTS: the private folder $work (INN's user news
# must enter it), PORTS free ports in a row from $base, $servers, and at the
# script's exit the proxy, any pid in $extra_pids, INN and the folder gone.
# start_inn [inn-up options] PORT then starts INN on PORT with its files in
# $work/inn.
extra_pids=()
begin_inn_test() {
    servers=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../tests/servers" && pwd)
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    chmod 755 "$work"
    base=$(free_ports "$2")
    trap end_inn_test EXIT
}
end_inn_test() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null || true
    for pid in "${extra_pids[@]}"; do
        [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    done
    "$servers/inn-down" "$work/inn" >/dev/null 2>&1 || true
    rm -rf "$work"
}
start_inn() {
    "$servers/inn-up" "$@" "$work/inn" >/dev/null \
        || { echo "FAIL: the INN news server did not start (tests/servers/inn-up $*, see above)"; exit 1; }
}
