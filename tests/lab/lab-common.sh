# shellcheck shell=bash
# Shared helpers for the throwaway lab directory servers (sourced, not run).
#
# Every lab lives in one folder (DIR) that holds all of its configuration,
# data, logs and its process id.  A folder is only ever reused or wiped when
# it carries the marker file DIR/.kelvo-lab, so a mistyped DIR cannot destroy
# anything else.  Labs only ever listen on loopback (127.x.x.x) addresses.
#
# lab.env format: one KEY=value line per setting.  Values that contain
# characters special to the shell are wrapped in single quotes (no value ever
# contains a single quote), so the file can be sourced by sh/bash, and a plain
# reader only needs to strip one pair of surrounding single quotes.

LAB_MARKER=.kelvo-lab
# shellcheck disable=SC2034 # used by the scripts that source this file
LAB_PASSWORD_DEFAULT='Kelvo.Lab.Pass.123'

lab_log() { printf '%s: %s\n' "${LAB_SCRIPT:-lab}" "$*" >&2; }
lab_die() {
    lab_log "ERROR: $*"
    exit 1
}

# lab_require_root: the labs write /etc/hosts and run servers as root.
lab_require_root() {
    [ "$(id -u)" -eq 0 ] || lab_die "must run as root"
}

# lab_require_loopback ADDR: accept only dotted IPv4 addresses in 127/8.
lab_require_loopback() {
    local a=$1
    [[ $a =~ ^127\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})$ ]] ||
        lab_die "address '$a' is not a loopback address (127.x.y.z)"
    local o
    for o in "${BASH_REMATCH[@]:1}"; do
        [ "$o" -le 255 ] || lab_die "address '$a' is not valid"
    done
}

# lab_abs_dir DIR: print DIR as an absolute path (DIR need not exist).
lab_abs_dir() {
    case $1 in
    /*) printf '%s\n' "${1%/}" ;;
    *) printf '%s/%s\n' "$(pwd)" "${1%/}" ;;
    esac
}

# lab_prepare_dir DIR: create DIR, or empty it when it is a stopped lab.
# Refuses a non-empty folder without the marker and a lab that still runs.
lab_prepare_dir() {
    local dir=$1
    if [ -e "$dir" ] && [ ! -d "$dir" ]; then
        lab_die "$dir exists and is not a folder"
    fi
    if [ -d "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
        [ -f "$dir/$LAB_MARKER" ] ||
            lab_die "$dir is not empty and is not a lab folder; remove it or pick another"
        if lab_pid_alive "$dir"; then
            lab_die "a lab is already running in $dir (pid $(lab_recorded_pid "$dir")); stop it first"
        fi
        # The marker proves the folder is ours; wipe the old lab.
        find "$dir" -mindepth 1 -delete
    fi
    mkdir -p "$dir"
    : >"$dir/$LAB_MARKER"
}

# lab_proc_start PID: print the start time (clock ticks since boot) and the
# state letter of PID, from /proc/PID/stat; prints nothing when PID is gone.
lab_proc_start() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    # Fields after the command name "(...)": state is the 1st, starttime the 20th.
    stat=${stat##*) }
    # shellcheck disable=SC2086 # split into fields on purpose
    set -- $stat
    printf '%s %s\n' "${20}" "$1"
}

# lab_record_pid DIR PID: remember PID and its start time in DIR/lab.pid.
lab_record_pid() {
    local st
    st=$(lab_proc_start "$2")
    printf '%s %s\n' "$2" "${st%% *}" >"$1/lab.pid"
}

# lab_recorded_pid DIR: print the recorded process id.
lab_recorded_pid() {
    local pid _
    read -r pid _ <"$1/lab.pid"
    printf '%s\n' "$pid"
}

# lab_pid_alive DIR: true when the process recorded in DIR/lab.pid still
# runs and is the same process (same start time: guards against a recycled
# process id; servers rewrite their command lines, so those cannot tell).
lab_pid_alive() {
    local dir=$1 pid start st
    [ -f "$dir/lab.pid" ] || return 1
    read -r pid start <"$dir/lab.pid" || true
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    st=$(lab_proc_start "$pid")
    [ -n "$st" ] || return 1
    [ "${st##* }" != Z ] || return 1
    [ "${st%% *}" = "$start" ]
}

# lab_port_busy ADDR PORT: true when something accepts connections there.
lab_port_busy() {
    # shellcheck disable=SC2016 # expanded by the inner shell
    timeout 3 bash -c ': <"/dev/tcp/$1/$2"' lab-probe "$1" "$2" 2>/dev/null
}

# lab_wait_gone PID SECONDS: wait until PID has exited (bounded).
lab_wait_gone() {
    local pid=$1 limit=$2 i
    for ((i = 0; i < limit * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        # A zombie child of ours still answers kill -0; its state is Z.
        if [ "$(ps -o stat= -p "$pid" 2>/dev/null | cut -c1)" = Z ]; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# lab_kill_pid PID: TERM the process and its direct children, wait up to
# 20 s, then KILL whatever is left.  Touches no other process.  Fails when
# PID is still there at the end.
lab_kill_pid() {
    local pid=$1 kids p rc=0
    kids=$( (ps -o pid= --ppid "$pid" 2>/dev/null || true) | tr -s " \n" " ")
    # shellcheck disable=SC2086 # a list of pids
    kill -TERM "$pid" $kids 2>/dev/null || true
    if ! lab_wait_gone "$pid" 20; then
        lab_log "pid $pid did not stop after TERM; sending KILL"
        kill -KILL "$pid" 2>/dev/null || true
        if ! lab_wait_gone "$pid" 5; then
            lab_log "pid $pid is still present"
            rc=1
        fi
    fi
    for p in $kids; do
        if kill -0 "$p" 2>/dev/null; then
            kill -KILL "$p" 2>/dev/null || true
        fi
    done
    return $rc
}

# lab_answers URI: true when the server at URI answers an anonymous RootDSE
# read within a few seconds (TLS settings come from the caller's environment).
lab_answers() {
    timeout 5 ldapsearch -x -LLL -o nettimeout=2 -H "$1" -b '' -s base 1.1 >/dev/null 2>&1
}

# lab_stop DIR: stop the lab recorded in DIR/lab.pid.
lab_stop() {
    local dir=$1 pid
    if [ ! -f "$dir/lab.pid" ]; then
        lab_log "no lab is recorded in $dir"
        return 0
    fi
    pid=$(lab_recorded_pid "$dir")
    if lab_pid_alive "$dir"; then
        lab_log "stopping pid $pid"
        lab_kill_pid "$pid" || return 1
    else
        lab_log "pid $pid is not running"
    fi
    rm -f "$dir/lab.pid"
}

# lab_env_line KEY VALUE: print one lab.env line, quoting when needed.
lab_env_line() {
    local key=$1 val=$2
    case $val in
    *"'"*) lab_die "value of $key contains a single quote" ;;
    *[!A-Za-z0-9_./:@=,+-]*) printf "%s='%s'\n" "$key" "$val" ;;
    *) printf '%s=%s\n' "$key" "$val" ;;
    esac
}

# lab_print_env DIR: show DIR/lab.env.
lab_print_env() {
    [ -f "$1/lab.env" ] || lab_die "no lab.env in $1"
    cat "$1/lab.env"
}

# lab_main MAX_ARGS ARGS...: the command line every lab script takes,
#   start DIR [settings...] | stop DIR | env DIR
# with at most MAX_ARGS arguments to start.  Needs the script's usage and
# do_start DIR [settings...] (do_start supplies its own defaults).
lab_main() {
    local max=$1
    shift
    [ $# -ge 2 ] || usage
    local cmd=$1 dir
    dir=$(lab_abs_dir "$2")
    case $cmd in
    start)
        [ $# -le "$max" ] || usage
        lab_require_root
        do_start "$dir" "${@:3}"
        ;;
    stop)
        [ $# -eq 2 ] || usage
        lab_stop "$dir"
        ;;
    env)
        [ $# -eq 2 ] || usage
        lab_print_env "$dir"
        ;;
    *) usage ;;
    esac
}
