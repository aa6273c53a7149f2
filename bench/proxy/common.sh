# Sourced by the relay bench scripts.

# Makes the scratch folder $work; when the script ends, every process whose
# id is in $pids is stopped and the folder removed.
begin_scratch() {
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    pids=()
    trap end_scratch EXIT
}
end_scratch() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
# write_relay_config CONFIG_HOME LOCAL_PORT UPSTREAM_PORT [KODOWANIE
# IGNOROWANIE]: the stored settings of a Sitowiak that relays LOCAL_PORT to
# 127.0.0.1:UPSTREAM_PORT with logging off and, by default, no rewriting
# option set.
write_relay_config() {
    mkdir -p "$1/sitowiak"
    cat >"$1/sitowiak/user.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]
"LocalPort"="$2"
"RemotePort"="$3"
"Address"="127.0.0.1"
"Aktywne"="1"
"Kodowanie"="${4:-}"
"Zawartosc"=""
"Style"="0"
"Logowanie"="0"
"IgnorowanieBlednych"="${5:-0}"
"ReadAccess"="*"
"WriteAccess"="127.0.0.1"
REG
}

# A free port below the kernel's range for outgoing connections, so no
# connection of another program can be holding it.
port_free() { [ -z "$(ss -Htan "( sport = :$1 )" 2>/dev/null)" ]; }

# start_upstream BINARY SECONDS: starts the bench upstream, which stops by
# itself after SECONDS should the script be killed, and sets up_port and
# upstream_pid once it listens.
start_upstream() {
    "$1" 0 "$2" >"$work/upstream.port" &
    upstream_pid=$!
    pids+=($upstream_pid)
    for _ in $(seq 300); do [ -s "$work/upstream.port" ] && break; sleep 0.05; done
    up_port=$(head -1 "$work/upstream.port")
}

# free_ports N: sets base to the first of N free ports in a row.
free_ports() {
    local i
    for _ in $(seq 50); do
        base=$((20000 + RANDOM % 12000))
        for ((i = 0; i < $1; i++)); do port_free $((base + i)) || continue 2; done
        return 0
    done
}
