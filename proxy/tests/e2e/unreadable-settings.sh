#!/usr/bin/env bash
# unreadable-settings.sh BUILD_DIR: settings that exist but cannot be read
# never open the proxy. Headless, the program then ends at once with exit
# code 1, says why on standard error, listens on nothing and leaves the
# settings folder as it found it: a damaged hive (its restricted read list
# lost), a FIFO, a file over the size limit. A hive exported in UTF-16 is no
# such case: it is read, listened with, and stored back as UTF-8.
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/sitowiak-unreadable.XXXXXX)
pid=
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "$0")/proxy-control.sh"
status=0
fail() { echo "FAIL $*"; status=1; }
ok() { echo "ok   $*"; }

folder=$work/config/sitowiak
hive=$folder/user.reg
port=$(free_ports 1) || exit 1
section='[HKEY_CURRENT_USER\SOFTWARE\Pląskun\Sitowiak\Parametry]'
restricted="\"LocalPort\"=\"$port\"
\"ReadAccess\"=\"192.168.1.*\"
\"Aktywne\"=\"1\""

start() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/config" \
        "$build/sitowiak" >"$work/out.log" 2>"$work/err.log" &
    pid=$!
}
# listens_now PID: whether the process has a listening TCP socket.
listens_now() { ss -ltnpH | grep -q "pid=$1,"; }
# The folder's content: names, types and checksums of regular files (the
# hive's lock file and the running copy's lock file aside).
folder_state() {
    (cd "$folder" && for f in $(ls -A | grep -Ev '^(user\.reg\.lock|sitowiak\.pid)$'); do
        printf '%s %s %s\n' "$f" "$(stat -c %F "$f")" \
            "$([ -f "$f" ] && [ ! -L "$f" ] && md5sum <"$f" | cut -c1-32)"
    done)
}

# unreadable NAME: the program started on the folder as it is now must end
# by itself within 20 s with exit code 1 and the reason on standard error,
# never listen meanwhile, and leave the folder unchanged.
unreadable() {
    local name=$1 before after rc listened=0
    before=$(folder_state)
    start
    for _ in $(seq 400); do
        kill -0 "$pid" 2>/dev/null || break
        listens_now "$pid" && listened=1
        sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
        listens_now "$pid" && listened=1
        kill -TERM "$pid"
        timeout 10 tail --pid="$pid" -f /dev/null || kill -KILL "$pid"
        wait "$pid"
        pid=
        fail "$name: still running after 20 s (listening: $listened)"
        return
    fi
    wait "$pid"
    rc=$?
    pid=
    after=$(folder_state)
    port_in_use "$port" && fail "$name: port $port is in use"
    [ $listened -eq 0 ] || fail "$name: it listened"
    [ "$before" = "$after" ] || fail "$name: the settings folder changed: $before -> $after"
    if [ $rc -eq 1 ] && grep -q "Nie można odczytać ustawień z pliku $hive" "$work/err.log"; then
        ok "$name: exit code 1, reason on standard error, folder unchanged"
    else
        fail "$name: exit code $rc: $(cat "$work/err.log")"
    fi
}

# A restricted set-up whose file got damaged.
rm -rf "$work/config"
mkdir -p "$folder"
{
    printf 'Windows Registry Editor Version 5.00\n\n%s\n%s\n' "$section" "$restricted"
    head -c 2000 /dev/urandom
} >"$hive"
unreadable "damaged hive"

rm -f "$hive"
mkfifo "$hive"
unreadable "FIFO in place of the hive"

rm -f "$hive"
truncate -s 17M "$hive"
unreadable "hive over the size limit"

# The same settings exported by the Windows registry editor: UTF-16LE with
# its byte-order mark and CR LF. Read, listened with on the stored port,
# and written back in UTF-8 with the read list kept.
rm -rf "$work/config"
mkdir -p "$folder"
printf 'Windows Registry Editor Version 5.00\n\n%s\n%s\n' "$section" "$restricted" |
    sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16 >"$hive"
[ "$(head -c 2 "$hive" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "iconv wrote no UTF-16LE mark"
start
if listening "$port"; then
    kill -TERM "$pid"
    timeout 20 tail --pid="$pid" -f /dev/null
    wait "$pid"
    rc=$?
    pid=
    if [ $rc -eq 0 ] && ! grep -qv '^<6>' "$work/err.log" && grep -q '^"ReadAccess"="192.168.1.\*"$' "$hive" &&
        grep -q '^"Aktywne"="1"$' "$hive" && ! ls "$folder" | grep -q damaged; then
        ok "UTF-16 export: read, listened on port $port, stored as UTF-8"
    else
        fail "UTF-16 export: exit code $rc, $(cat "$work/err.log"), $(ls "$folder"): $(cat "$hive")"
    fi
else
    fail "UTF-16 export: not listening on $port: $(cat "$work/err.log")"
fi
exit $status
