# Helpers shared by the test-server scripts in this folder (sourced, not run).
# The caller sets ME to its own name before sourcing.

servers_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(cd "$servers_dir/../.." && pwd)

die() { echo "$ME: $*" >&2; exit 1; }

need_root() { [ "$(id -u)" -eq 0 ] || die "must run as root ($*)"; }

check_port() {
    [[ $1 =~ ^[0-9]{4,5}$ ]] && [ "$1" -ge 1024 ] && [ "$1" -le 65535 ] \
        || die "PORT must be a number in 1024..65535, not '$1'"
}

# need_package PKG FILE: installs PKG through scripts/setup.sh unless it is
# installed and FILE exists.
need_package() {
    if dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' \
        && [ -e "$2" ]; then
        return 0
    fi
    bash "$repo_dir/scripts/setup.sh" --only "$1" >&2 || die "could not install the package $1"
    [ -e "$2" ] || die "the package $1 is installed, but $2 is missing"
}

# running PID: the process exists and is not a zombie (a stopped server
# stays a zombie until whoever started it reaps it).
running() {
    local state
    state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

# command_of PID: its command line with blanks between the arguments.
command_of() { tr '\0' ' ' < "/proc/$1/cmdline" 2>/dev/null; }

# pid_from FILE: the number in FILE, if FILE exists.
pid_from() { [ -f "$1" ] && tr -cd 0-9 < "$1"; }

# children_of PID: the PIDs of its child processes.
children_of() { cat /proc/"$1"/task/*/children 2>/dev/null | tr ' ' '\n' | grep . || true; }

# wait_stopped SECONDS PID...: waits until none of them is running.
wait_stopped() {
    local until=$((SECONDS + $1)) p busy
    shift
    while :; do
        busy=
        for p in "$@"; do running "$p" && busy=1; done
        [ -z "$busy" ] && return 0
        [ "$SECONDS" -ge "$until" ] && return 1
        sleep 0.1
    done
}

# stop_pids SECONDS PID...: SIGTERM, then SIGKILL for those still running
# after SECONDS. Fails if any of them survives that too.
stop_pids() {
    local grace=$1 p
    shift
    (($#)) || return 0
    kill -TERM "$@" 2>/dev/null || true
    wait_stopped "$grace" "$@" && return 0
    for p in "$@"; do running "$p" && kill -KILL "$p" 2>/dev/null; done
    wait_stopped 5 "$@"
}

# port_open PORT: something accepts connections on 127.0.0.1:PORT.
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# start_detached LOG CMD...: runs CMD in the background in a session of its
# own, with standard input from /dev/null and output to LOG. Descriptors
# above 2 are closed first: a server holding the caller's pipe open would
# keep the caller (a test reading this script's output) waiting forever.
# Sets started_pid.
start_detached() {
    local log=$1
    shift
    (
        for f in "/proc/$BASHPID/fd/"*; do
            f=${f##*/}
            if [ "$f" -gt 2 ]; then { exec {f}>&-; } 2>/dev/null || true; fi
        done
        exec setsid "$@"
    ) </dev/null >>"$log" 2>&1 &
    started_pid=$!
}
