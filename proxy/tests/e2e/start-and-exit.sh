#!/usr/bin/env bash
# start-and-exit.sh BUILD_DIR: the program as a newcomer meets it, headless:
# --help and --version answer without starting the proxy; a normal run says
# nothing on standard error and stores every setting at SIGTERM; a settings
# folder that cannot be written gives one message and exit code 1; SIGTERM at
# any moment of start-up ends it with exit code 0; a kill at any moment of
# the save leaves all old or all new values. Needs root (the
# read-only case runs as the user nobody).
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/sitowiak-start.XXXXXX)
chmod 755 "$work"
trap 'pkill -KILL -f "$work/sitowiak" 2>/dev/null; rm -rf "$work"' EXIT
# A copy that the user nobody can run whatever folder the build is in.
cp "$build/sitowiak" "$work/sitowiak"
status=0
fail() { echo "FAIL $*"; status=1; }
ok() { echo "ok   $*"; }

section='[HKEY_CURRENT_USER\SOFTWARE\Pląskun\Sitowiak\Parametry]'
# A hive with listening off, so that no port is needed.
fresh_hive() {
    rm -rf "$work/config"
    mkdir -p "$work/config/sitowiak"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n"Aktywne"="0"\r\n' "$section" \
        >"$work/config/sitowiak/user.reg"
}
# The number of values stored in the settings section, and how many a
# whole save writes (every setting but "Logowanie").
all_values=17
values_stored() {
    awk -v s="$section" '{ sub(/\r$/, "") } $0 == s { in_s = 1; next } /^\[/ { in_s = 0 }
        in_s && /^"/ { n++ } END { print n + 0 }' "$work/config/sitowiak/user.reg"
}
start() {  # start [USER]: starts the program headless in the background
    local as=()
    [ -n "${1:-}" ] && as=(setpriv --reuid="$1" --regid=nogroup --clear-groups)
    (cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        XDG_CONFIG_HOME="$work/config" "${as[@]}" "$work/sitowiak" \
        >"$work/out.log" 2>"$work/err.log") &
    pid=$!
}
# Waits until the program has loaded its settings (its window exists once
# the hive lock file has been touched and the process has settled).
settle() { sleep 1; }
stop() {  # stop: SIGTERM, then the exit code in $rc
    kill -TERM "$pid"
    timeout 20 tail --pid="$pid" -f /dev/null
    wait "$pid"
    rc=$?
}

# --version and --help end at once and never touch the settings.
rm -rf "$work/config"
out=$(env XDG_CONFIG_HOME="$work/config" "$work/sitowiak" --version)
rc=$?
[ $rc -eq 0 ] && [ "$out" = "Sitowiak 5.0.0.48" ] && [ ! -e "$work/config" ] &&
    ok "--version" || fail "--version: rc $rc, '$out'"
for flag in --help -h; do
    out=$(env XDG_CONFIG_HOME="$work/config" "$work/sitowiak" "$flag")
    rc=$?
    [ $rc -eq 0 ] && grep -q "user.reg" <<<"$out" && grep -q -- "-nainternet" <<<"$out" &&
        [ ! -e "$work/config" ] && ok "$flag" || fail "$flag: rc $rc"
done

# A normal headless run: no problem on standard error, every setting stored.
fresh_hive
start
settle
stop
[ $rc -eq 0 ] || fail "normal run: exit code $rc"
# Only information lines: its start, listening and end, nothing wrong.
grep -qv '^<6>' "$work/err.log" && fail "normal run reported a problem: $(cat "$work/err.log")"
grep -q '^<6>Nie nasłuchuje: Aktywne=0\.$' "$work/err.log" &&
    grep -q '^<6>Sitowiak kończy pracę (kod wyjścia 0)\.$' "$work/err.log" ||
    fail "normal run did not say it ended: $(cat "$work/err.log")"
n=$(values_stored)
[ "$n" -eq $all_values ] && ok "normal run stores all $all_values values, quietly" || fail "normal run stored $n values"

# A settings folder that cannot be written: one message, exit code 1.
fresh_hive
chmod 777 "$work/config/sitowiak"
start nobody
settle
chmod 555 "$work/config/sitowiak"
before=$(md5sum <"$work/config/sitowiak/user.reg")
stop
messages=$(grep -c "Nie można zapisać ustawień" "$work/err.log")
after=$(md5sum <"$work/config/sitowiak/user.reg")
[ $rc -eq 1 ] && [ "$messages" -eq 1 ] && [ "$before" = "$after" ] &&
    ok "read-only settings folder: one message, exit code 1" ||
    fail "read-only settings folder: rc $rc, $messages messages: $(cat "$work/err.log")"

# SIGTERM at any moment of start-up ends the program cleanly: exit code 0
# and a hive that parses, with the old values or all of them.
early=0
for i in $(seq 20); do
    fresh_hive
    start
    # The signal goes to the program once its first code has run (before
    # that the dynamic loader is still mapping libraries, or the shell that
    # starts it is still there): the moment SIGTERM shows as caught.
    for _ in $(seq 400); do
        caught=$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
        [ "$(readlink "/proc/$pid/exe")" = "$work/sitowiak" ] && [ -n "$caught" ] &&
            (((16#$caught >> 14) & 1)) && break
        sleep 0.002
    done
    sleep "0.$((RANDOM % 4))$((RANDOM % 10))"
    stop
    n=$(values_stored)
    if [ $rc -ne 0 ] || { [ "$n" -ne 1 ] && [ "$n" -ne $all_values ]; }; then
        early=1
        echo "run $i: exit code $rc, $n values"
    fi
done
[ $early -eq 0 ] && ok "SIGTERM during start-up: exit code 0" || fail "SIGTERM during start-up"

# A kill at any moment of the save: the hive parses and holds all old
# values (one) or all new ones, never a mix.
mixed=0
for i in $(seq 20); do
    fresh_hive
    start
    settle
    kill -TERM "$pid"
    sleep "0.0$((RANDOM % 10))"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    n=$(values_stored)
    if [ "$n" -ne 1 ] && [ "$n" -ne $all_values ]; then
        mixed=1
        echo "run $i: $n values"
        cat "$work/config/sitowiak/user.reg"
    fi
done
[ $mixed -eq 0 ] && ok "kill during the save: all old or all new" || fail "kill during the save"
exit $status
