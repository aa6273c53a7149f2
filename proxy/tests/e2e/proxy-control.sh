# Starting and stopping the proxy in the end-to-end tests, sourced by them.
# The caller sets work (its private folder), build (the build tree) and
# proxy_port.
proxy_pid=

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
    for _ in $(seq 100); do
        ss -ltnH "sport = :$proxy_port" | grep -q . && return 0
        sleep 0.05
    done
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
