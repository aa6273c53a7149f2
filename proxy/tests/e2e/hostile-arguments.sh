#!/usr/bin/env bash
# hostile-arguments.sh BUILD_DIR: the program with command-line arguments of
# hostile shape (the longest one argument may be, every byte value, thousands
# of arguments, invalid UTF-8, the mode words followed by such arguments).
# The modes must end by themselves in bounded time with exit code 0 (1 for a
# distribution that could not publish); normal mode must come up, keep
# running and end with exit code 0 on SIGTERM.
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/sitowiak-args.XXXXXX)
# The registration mode starts a second copy of the program; those copies
# (found by their settings folder) end with the test.
stop_copies() {
    for p in $(pgrep -x sitowiak); do
        grep -qzx "XDG_CONFIG_HOME=$work/config" "/proc/$p/environ" 2>/dev/null && kill -TERM "$p"
    done
    return 0
}
trap 'stop_copies; sleep 0.5; rm -rf "$work"' EXIT
mkdir -p "$work/config/sitowiak"
# Not listening, so that no port is needed.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Pl\xc4\x85skun\\Sitowiak\\Parametry]\r\n"Aktywne"="0"\r\n' \
    >"$work/config/sitowiak/user.reg"

long=$(head -c 131000 /dev/zero | tr '\0' 'A')
binary=$(printf "$(printf '\\x%02x' $(seq 1 255))")
many=()
for i in $(seq 5000); do many+=("-x$i"); done
status=0

run() {  # run EXPECT NAME ARGS...: EXPECT is "ends" (code 0), "fails" (code 1) or "stays"
    local expect=$1 name=$2
    shift 2
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
        "$build/sitowiak" "$@" >"$work/out.log" 2>&1 &
    local pid=$! rc
    if [ "$expect" != stays ]; then
        timeout 20 tail --pid=$pid -f /dev/null
        if kill -0 $pid 2>/dev/null; then kill -KILL $pid; echo "FAIL $name: did not end"; status=1; return; fi
        wait $pid; rc=$?
        local want=0
        [ "$expect" = fails ] && want=1
        [ $rc -eq $want ] || { echo "FAIL $name: exit code $rc"; status=1; return; }
    else
        sleep 1.5
        kill -0 $pid 2>/dev/null || { wait $pid; echo "FAIL $name: ended early ($?)"; cat "$work/out.log"; status=1; return; }
        kill -TERM $pid
        timeout 20 tail --pid=$pid -f /dev/null
        if kill -0 $pid 2>/dev/null; then kill -KILL $pid; echo "FAIL $name: ignored SIGTERM"; status=1; return; fi
        wait $pid; rc=$?
        [ $rc -eq 0 ] || { echo "FAIL $name: exit code $rc after SIGTERM"; cat "$work/out.log"; status=1; return; }
    fi
    echo "ok   $name"
}

run stays "one argument of 131000 bytes" "$long"
run stays "every byte value but NUL" "$binary"
run stays "5000 arguments" "${many[@]}"
run stays "invalid UTF-8" $'\xff\xfe\xc3' $'\xc3\x28'
run stays "autostart argument" -d
# No folder can have that name: the run fails and says so in its exit code.
run fails "-nainternet with a long binary argument" -nainternet "$binary${long:0:100000}"
run ends "-zarejestruj with 5000 arguments" -zarejestruj "${many[@]}"
exit $status
