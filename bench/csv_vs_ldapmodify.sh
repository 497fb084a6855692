#!/usr/bin/env bash
# Kelvo's CSV mode against OpenLDAP's ldapmodify on the same work: COUNT
# (default 10000) objects in a lab Active Directory each get their own
# description, over one LDAPS session with a simple bind.  Kelvo reads a CSV
# file (dn,description) and writes description::{{.}}; ldapmodify reads the
# equivalent LDIF.  Each run writes new values; both run three times,
# alternating (and alternating who goes first), and the better run of each
# counts.  The script fails unless every run did its work: Kelvo reports
# every row done, ldapmodify exits 0, and a few objects read back after each
# run hold the values that run wrote.
#
#   bench/csv_vs_ldapmodify.sh [BINARY] [COUNT]
#
# Reports the ratio of wall times (target <= 1.0) and Kelvo's client CPU per
# row.  Starts its own lab on 127.0.0.43 and stops it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath -m "${1:-$here/../build/kelvo}")
count=${2:-10000}
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
require_kelvo "$bin"
start_bench_lab 127.0.0.43
ou="OU=csvbench,$LAB_BASE"

python3 - "$count" "$ou" "$work" <<'PY'
import sys
n, ou, work = int(sys.argv[1]), sys.argv[2], sys.argv[3]
def dn(i):
    return f"CN=c{i:05d},{ou}"
with open(f"{work}/add.ldif", "w") as f:
    f.write(f"dn: {ou}\nobjectClass: organizationalUnit\n\n")
    for i in range(n):
        f.write(f"dn: {dn(i)}\nobjectClass: contact\n\n")
for run in ("1", "2", "3"):
    with open(f"{work}/rows{run}.csv", "w") as f:
        f.write("dn,description\n")
        for i in range(n):
            f.write(f"\"{dn(i)}\",kelvo {run} row {i}\n")
    with open(f"{work}/modify{run}.ldif", "w") as f:
        for i in range(n):
            f.write(f"dn: {dn(i)}\nchangetype: modify\nreplace: description\n"
                    f"description: ldapmodify {run} row {i}\n-\n\n")
PY
echo "creating $count objects..."
ldapadd -c -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" -f "$work/add.ldif" >/dev/null ||
    bench_fail "ldapadd could not create the $count objects"

kelvo_run() {
    kelvo_measure "$work/kelvo-$1.out" sh -c "'$bin' -unsafe -h '$LAB_HOST' -ssl -simple \
        -u '$LAB_ADMIN_UPN' -up '$LAB_PASSWORD' -csv 'description::{{.}}' < '$work/rows$1.csv'"
    check_kelvo_done "$work/kelvo-$1.out" "$count"
}
ldapmodify_run() {
    measure ldapmodify -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" -f "$work/modify$1.ldif"
}
# Reads back the first, last and a few other rows; fails unless each holds
# "PREFIX row N".
check() { # prefix
    local i
    for i in 0 1 $((count / 3)) $((count / 2)) $((count * 7 / 9)) $((count - 1)); do
        check_values description "$1 row $i" "$(printf 'CN=c%05d,%s' "$i" "$ou")"
    done
}

best_k=""; best_l=""
for run in 1 2 3; do
    # Who goes first alternates: the directory slows as its database grows.
    if [ $((run % 2)) = 1 ]; then
        k=$(kelvo_run "$run"); check "kelvo $run"
        l=$(ldapmodify_run "$run"); check "ldapmodify $run"
    else
        l=$(ldapmodify_run "$run"); check "ldapmodify $run"
        k=$(kelvo_run "$run"); check "kelvo $run"
    fi
    echo "run $run: kelvo wall/user/sys $k   ldapmodify $l   (values read back)"
    best_k=$(faster "$best_k" "$k")
    best_l=$(faster "$best_l" "$l")
done
read -r kw ku ks <<<"$best_k"
read -r lw lu ls <<<"$best_l"
awk -v n="$count" -v kw="$kw" -v ku="$ku" -v ks="$ks" -v lw="$lw" -v lu="$lu" -v ls="$ls" 'BEGIN {
    printf "rows:                    %d\n", n
    printf "kelvo wall:              %.2f s (client CPU %.2f s)\n", kw, ku + ks
    printf "ldapmodify wall:         %.2f s (client CPU %.2f s)\n", lw, lu + ls
    printf "wall-time ratio:         %.3f (target <= 1.0)\n", kw / lw
    printf "kelvo CPU per row:       %.1f us\n", (ku + ks) * 1e6 / n
}'
