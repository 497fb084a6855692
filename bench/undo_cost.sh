#!/usr/bin/env bash
# What -undo costs: COUNT (default 5000) objects in a lab Active Directory each
# get one replace over one LDAPS session with a simple bind, driven by a
# piped DN list, once without and once with -undo (one base read before each
# write and a record in the undo file after it).  Both run three times,
# alternating, and the better run of each counts.
#
#   bench/undo_cost.sh [BINARY] [COUNT]
#
# Checks that every run reported every object done, that the objects hold the
# value each run wrote and that each undo file holds COUNT records, and reports the ratio of wall times (target <= 1.6).  Starts
# its own lab on 127.0.84.41 and stops it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath -m "${1:-$here/../build/kelvo}")
count=${2:-5000}
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
require_kelvo "$bin"
start_bench_lab 127.0.84.41
ou="OU=bench,$LAB_BASE"

create_objects "$count" "$ou" contact "description: start"
mapfile -t samples < <(sample_dns "$count" "CN=b%05d,$ou")

kelvo_run() { # name [extra switches...]
    local name=$1
    shift
    kelvo_measure "$work/out-$name.txt" "$bin" -unsafe -h "$LAB_HOST" -ssl -simple \
        -u "$LAB_ADMIN_UPN" -up "$LAB_PASSWORD" "description::kelvo $name" "$@" <"$work/dns.txt"
}

check_run() { # name [undo file]
    check_kelvo_done "$work/out-$1.txt" "$count"
    check_values description "kelvo $1" "${samples[@]}"
    if [ -n "${2:-}" ]; then
        local records
        records=$(grep -c '^dn: ' "$2" || true)
        [ "$records" -eq "$count" ] || bench_fail "undo file of run $1 holds $records of $count records"
    fi
}

best_p=""; best_u=""
for run in 1 2 3; do
    p=$(kelvo_run "plain$run")
    check_run "plain$run"
    u=$(kelvo_run "undo$run" -undo "$work/undo$run.ldif")
    check_run "undo$run" "$work/undo$run.ldif"
    echo "run $run: without -undo wall/user/sys $p   with -undo $u"
    best_p=$(faster "$best_p" "$p")
    best_u=$(faster "$best_u" "$u")
done
size=$(stat -c %s "$work/undo1.ldif")
read -r pw pu ps <<<"$best_p"
read -r uw uu us <<<"$best_u"
awk -v n="$count" -v pw="$pw" -v pu="$pu" -v ps="$ps" -v uw="$uw" -v uu="$uu" -v us="$us" \
    -v size="$size" 'BEGIN {
    printf "objects:                 %d (every run reported all; every undo file %d records)\n", n, n
    printf "without -undo wall:      %.2f s (client CPU %.2f s)\n", pw, pu + ps
    printf "with -undo wall:         %.2f s (client CPU %.2f s)\n", uw, uu + us
    printf "wall-time ratio:         %.3f (target <= 1.6)\n", uw / pw
    printf "undo file:               %d bytes\n", size
}'
