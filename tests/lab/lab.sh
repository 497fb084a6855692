#!/usr/bin/env bash
# lab.sh - start or stop both lab directory servers under one folder.
#
#   lab.sh start-all DIR   slapd in DIR/slapd on 127.0.0.12:3890 (ldaps 3891),
#                          Samba AD DC in DIR/samba on 127.0.0.11
#   lab.sh stop-all  DIR   stop both (each by its recorded pid)
#   lab.sh env-all   DIR   print both lab.env files
#
# start-all prints both lab.env files; if either lab fails, the one already
# started is stopped again and the exit status is non-zero.

set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

usage() {
    echo "usage: $0 start-all DIR | stop-all DIR | env-all DIR" >&2
    exit 2
}

[ $# -eq 2 ] || usage
dir=$2
case $1 in
start-all)
    mkdir -p "$dir"
    "$HERE/slapd_lab.sh" start "$dir/slapd" 127.0.0.12 3890
    if ! "$HERE/samba_lab.sh" start "$dir/samba" 127.0.0.11; then
        "$HERE/slapd_lab.sh" stop "$dir/slapd" || true
        exit 1
    fi
    ;;
stop-all)
    rc=0
    "$HERE/samba_lab.sh" stop "$dir/samba" || rc=1
    "$HERE/slapd_lab.sh" stop "$dir/slapd" || rc=1
    exit $rc
    ;;
env-all)
    "$HERE/slapd_lab.sh" env "$dir/slapd"
    "$HERE/samba_lab.sh" env "$dir/samba"
    ;;
*) usage ;;
esac
