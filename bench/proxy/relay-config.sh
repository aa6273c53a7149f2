# Sourced by the relay bench scripts.
# write_relay_config CONFIG_HOME LOCAL_PORT UPSTREAM_PORT: the stored
# settings of a Sitowiak that relays LOCAL_PORT to 127.0.0.1:UPSTREAM_PORT
# with no rewriting option set and logging off.
write_relay_config() {
    mkdir -p "$1/sitowiak"
    cat >"$1/sitowiak/user.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]
"LocalPort"="$2"
"RemotePort"="$3"
"Address"="127.0.0.1"
"Aktywne"="1"
"Kodowanie"=""
"Zawartosc"=""
"Style"="0"
"Logowanie"="0"
"IgnorowanieBlednych"="0"
"ReadAccess"="*"
"WriteAccess"="127.0.0.1"
REG
}

# A free port below the kernel's range for outgoing connections, so no
# connection of another program can be holding it.
port_free() { [ -z "$(ss -Htan "( sport = :$1 )" 2>/dev/null)" ]; }
