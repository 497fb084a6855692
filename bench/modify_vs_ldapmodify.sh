#!/usr/bin/env bash
# Kelvo against OpenLDAP's ldapmodify on the same work: COUNT (default 5000)
# objects in a lab Active Directory each get one replace, over one LDAPS
# session with a simple bind, driven by a piped DN list (Kelvo) and by the
# equivalent LDIF (ldapmodify).  Both run twice, alternating, and the better
# run of each counts.
#
#   bench/modify_vs_ldapmodify.sh [BINARY] [COUNT] [BASELINE]
#
# With BASELINE (another kelvo binary, such as a build of an earlier commit)
# that binary does the same work in the same runs, and its client CPU per
# object is reported next to BINARY's.
#
# Reports the ratio of wall times (target <= 1.05) and Kelvo's client CPU per
# object (target < 50 microseconds).  Fails unless every run did its work:
# Kelvo reports every object done, ldapmodify exits 0, and the first, a middle
# and the last object hold the value that run wrote.  Starts its own lab on 127.0.0.41 and
# stops it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath -m "${1:-$here/../build/kelvo}")
count=${2:-5000}
baseline=${3:+$(realpath -m "$3")}
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
require_kelvo "$bin"
[ -z "$baseline" ] || require_kelvo "$baseline"
start_bench_lab 127.0.0.41
ou="OU=bench,$LAB_BASE"

python3 - "$count" "$ou" "$work" <<'PY'
import sys
n, ou, work = int(sys.argv[1]), sys.argv[2], sys.argv[3]
with open(f"{work}/add.ldif", "w") as f:
    f.write(f"dn: {ou}\nobjectClass: organizationalUnit\n\n")
    for i in range(n):
        f.write(f"dn: CN=b{i:05d},{ou}\nobjectClass: contact\n\n")
with open(f"{work}/dns.txt", "w") as f:
    for i in range(n):
        f.write(f"CN=b{i:05d},{ou}\n")
for run in ("1", "2", "3"):
    with open(f"{work}/modify{run}.ldif", "w") as f:
        for i in range(n):
            f.write(f"dn: CN=b{i:05d},{ou}\nchangetype: modify\nreplace: description\n"
                    f"description: ldapmodify {run}\n-\n\n")
PY
echo "creating $count objects..."
ldapadd -c -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" -f "$work/add.ldif" >/dev/null ||
    bench_fail "ldapadd could not create the $count objects"
mapfile -t samples < <(sample_dns "$count" "CN=b%05d,$ou")

kelvo_run() { # run [binary]
    kelvo_measure "$work/kelvo-$1.out" sh -c "'${2:-$bin}' -unsafe -h '$LAB_HOST' -ssl -simple \
        -u '$LAB_ADMIN_UPN' -up '$LAB_PASSWORD' description::'kelvo $1' < '$work/dns.txt'"
    check_kelvo_done "$work/kelvo-$1.out" "$count"
    check_values description "kelvo $1" "${samples[@]}"
}
ldapmodify_run() {
    measure ldapmodify -x -H "$uri" -D "$LAB_ADMIN_UPN" -w "$LAB_PASSWORD" -f "$work/modify$1.ldif"
    check_values description "ldapmodify $1" "${samples[@]}"
}

best_k=""; best_l=""; base_cpu=""; kelvo_cpu=""
for run in 1 2 3; do
    k=$(kelvo_run "$run"); l=$(ldapmodify_run "$run")
    echo "run $run: kelvo wall/user/sys $k   ldapmodify $l"
    kelvo_cpu="$kelvo_cpu $(awk '{print $2 + $3}' <<<"$k")"
    if [ -n "$baseline" ]; then
        b=$(kelvo_run "base$run" "$baseline")
        echo "run $run: baseline wall/user/sys $b"
        base_cpu="$base_cpu $(awk '{print $2 + $3}' <<<"$b")"
    fi
    best_k=$(faster "$best_k" "$k")
    best_l=$(faster "$best_l" "$l")
done
read -r kw ku ks <<<"$best_k"
read -r lw lu ls <<<"$best_l"
awk -v n="$count" -v kw="$kw" -v ku="$ku" -v ks="$ks" -v lw="$lw" -v lu="$lu" -v ls="$ls" 'BEGIN {
    printf "objects:                 %d\n", n
    printf "kelvo wall:              %.2f s (client CPU %.2f s)\n", kw, ku + ks
    printf "ldapmodify wall:         %.2f s (client CPU %.2f s)\n", lw, lu + ls
    printf "wall-time ratio:         %.3f (target <= 1.05)\n", kw / lw
    printf "kelvo CPU per object:    %.1f us (target < 50)\n", (ku + ks) * 1e6 / n
}'
if [ -n "$baseline" ]; then
    awk -v n="$count" -v mine="$kelvo_cpu" -v base="$base_cpu" '
    function best(list,   v, c, b, i) {
        c = split(list, v, " "); b = v[1]
        for (i = 2; i <= c; i++) if (v[i] < b) b = v[i]
        return b
    }
    BEGIN {
        printf "kelvo CPU per object:    %.1f us (best of runs)\n", best(mine) * 1e6 / n
        printf "baseline CPU per object: %.1f us (best of runs)\n", best(base) * 1e6 / n
    }'
fi
