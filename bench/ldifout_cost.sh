#!/usr/bin/env bash
# What -ldifout costs a real run: COUNT (default 5000) objects in a lab Active
# Directory each get one replace, over one LDAPS session with a simple bind,
# driven by a piped DN list, once plain and once writing every change to an
# LDIF file.  The two alternate over three rounds and the better run of each
# counts.  Every run must report every object done and leave the objects
# holding its value, and the file must hold one record per object.
#
#   bench/ldifout_cost.sh [BINARY] [COUNT] [ADDRESS]
#
# Reports the ratio of wall times (target <= 1.05) and the client CPU per
# object of both.  Starts its own lab on ADDRESS (default 127.0.0.42) and
# stops it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath -m "${1:-$here/../build/kelvo}")
count=${2:-5000}
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
require_kelvo "$bin"
start_bench_lab "${3:-127.0.0.42}"
ou="OU=bench,$LAB_BASE"

create_objects "$count" "$ou" contact
mapfile -t samples < <(sample_dns "$count" "CN=b%05d,$ou")

kelvo_run() { # value [extra switches...]
    local value=$1
    shift
    kelvo_measure "$work/out" "$bin" -unsafe -h "$LAB_HOST" -ssl -simple -u "$LAB_ADMIN_UPN" \
        -up "$LAB_PASSWORD" "$@" "description::$value" <"$work/dns.txt"
    check_kelvo_done "$work/out" "$count"
    check_values description "$value" "${samples[@]}"
}

best_p=""; best_f=""
for run in 1 2 3; do
    p=$(kelvo_run "plain $run")
    f=$(kelvo_run "file $run" -ldifout "$work/out$run.ldif")
    echo "run $run: plain wall/user/sys $p   -ldifout $f"
    records=$(grep -c '^dn: ' "$work/out$run.ldif" || true)
    [ "$records" = "$count" ] || bench_fail "the LDIF file holds $records records, not $count"
    best_p=$(faster "$best_p" "$p")
    best_f=$(faster "$best_f" "$f")
done
echo "records in each file:    $count ($(stat -c %a "$work/out1.ldif"), $(stat -c %s "$work/out1.ldif") bytes)"
read -r pw pu ps <<<"$best_p"
read -r fw fu fs <<<"$best_f"
awk -v n="$count" -v pw="$pw" -v pu="$pu" -v ps="$ps" -v fw="$fw" -v fu="$fu" -v fs="$fs" 'BEGIN {
    printf "objects:                 %d\n", n
    printf "plain wall:              %.2f s (client CPU %.2f s)\n", pw, pu + ps
    printf "-ldifout wall:           %.2f s (client CPU %.2f s)\n", fw, fu + fs
    printf "wall-time ratio:         %.3f (target <= 1.05)\n", fw / pw
    printf "CPU per object:          %.1f us plain, %.1f us with -ldifout\n",
           (pu + ps) * 1e6 / n, (fu + fs) * 1e6 / n
}'
