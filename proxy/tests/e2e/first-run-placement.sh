#!/usr/bin/env bash
# first-run-placement.sh BUILD_DIR: the main window under a real window
# manager (openbox on an 800x600 Xvfb screen). On a first run, and with a stored position past
# the screen's corner, the whole frame, title bar included, lies on the
# screen.
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/sitowiak-placement.XXXXXX)
xvfb_pid= wm_pid= pid=
cleanup() {
    for p in $pid $wm_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
for tool in Xvfb openbox xwininfo xprop; do
    command -v "$tool" >/dev/null || { echo "FAIL $tool is missing (scripts/setup.sh --tests)"; exit 1; }
done

# A display number nobody uses.
for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
done
width=800 height=600
Xvfb "$display" -screen 0 "${width}x${height}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do xwininfo -display "$display" -root >/dev/null 2>&1 && break; sleep 0.05; done
DISPLAY=$display openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 0.5
status=0

# check NAME [STORED VALUES]: starts the program with those placement values
# and checks where its framed main window ends up.
check() {
    local name=$1 placement=${2:-}
    mkdir -p "$work/config/sitowiak"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Pl\xc4\x85skun\\Sitowiak\\Parametry]\r\n"Aktywne"="0"\r\n%b' \
        "$placement" >"$work/config/sitowiak/user.reg"
    DISPLAY=$display XDG_CONFIG_HOME="$work/config" "$build/sitowiak" >"$work/out.log" 2>&1 &
    pid=$!
    local id= extents= x y w h
    for _ in $(seq 300); do
        id=$(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/\("sitowiak" "Sitowiak"\)/ { print $1; exit }')
        [ -n "$id" ] && extents=$(xprop -display "$display" -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | grep -o '[0-9, ]*$')
        [ -n "$extents" ] && break
        sleep 0.05
    done
    sleep 3  # the program pulls its frame onto the screen while it settles
    read -r x y w h < <(xwininfo -display "$display" -id "$id" |
        awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
             /^ *Width/ { w = $NF } /^ *Height/ { h = $NF } END { print x, y, w, h }')
    IFS=', ' read -r left right top bottom <<<"$extents"
    local fx=$((x - left)) fy=$((y - top)) fr=$((x + w + right)) fb=$((y + h + bottom))
    kill -TERM "$pid"
    wait "$pid"
    pid=
    if [ -z "$extents" ] || [ "$fx" -lt 0 ] || [ "$fy" -lt 0 ] || [ "$fr" -gt "$width" ] || [ "$fb" -gt "$height" ]; then
        echo "FAIL $name: frame $fx,$fy to $fr,$fb on a ${width}x${height} screen (extents '$extents')"
        status=1
    else
        echo "ok   $name: frame $fx,$fy to $fr,$fb"
    fi
    rm -rf "$work/config"
}

check "first run"
check "stored past the bottom-right corner" \
    '\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Pl\xc4\x85skun\\Sitowiak\\StareRozmiary]\r\n"OdLewej"="700"\r\n"OdG\xc3\xb3ry"="550"\r\n'
exit $status
