#!/usr/bin/env bash
# Reading, checking and sorting a large piped DN list.
#
#   bench/dn_input.sh [BINARY] [COUNT]
#
# Pipes COUNT (default 200000) DNs into `kelvo -unsafe -stdinsort` and reports
# wall time and peak memory next to `sort` over the same file.  Kelvo then
# tries a loopback port where nothing listens, so the run ends right after
# the list is ready; no directory is touched.
# Targets: under 3 times the time of sort; peak memory under 64 MiB plus the
# 10 MiB line buffer.  Fails unless BINARY is a Kelvo that read all COUNT DNs
# ("DN Count: COUNT", no bad line) and stopped at the connection, and sort
# sorted every line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/kelvo}
count=${2:-200000}
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
require_kelvo "$bin"

python3 - "$count" >"$work/dns.txt" <<'PY'
import random, sys
n = int(sys.argv[1])
rng = random.Random(7)
rows = [f"CN=User {i:07d},OU=Dept{i % 97:02d},OU=Staff,DC=corp,DC=example" for i in range(n)]
rng.shuffle(rows)
sys.stdout.write("\n".join(rows) + "\n")
PY

measure_memory() { # out command...: prints "seconds peak_kib status"
    local out=$1 rc=0
    shift
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$out" 2>&1 || rc=$?
    echo "$(tail -n 1 "$work/time") $rc"
}

read -r sort_s sort_kib sort_rc < <(measure_memory "$work/sort.out" sort -o "$work/sorted.txt" "$work/dns.txt")
[ "$sort_rc" -eq 0 ] && [ "$(wc -l <"$work/sorted.txt")" -eq "$count" ] ||
    bench_fail "sort did not sort the $count lines: $(head -c 300 "$work/sort.out")"

# Kelvo must have read every DN and then failed at the connection, and only
# there: the fatal set-up status (-1, shown as 255) after "DN Count: COUNT"
# and the connection error.
read -r kelvo_s kelvo_kib kelvo_rc < <(measure_memory "$work/kelvo.out" \
    "$bin" -unsafe -stdinsort -h 127.0.0.1:9 -t 5 description::x <"$work/dns.txt")
if [ "$kelvo_rc" -ne 255 ] || ! grep -q "^DN Count: $count\$" "$work/kelvo.out" ||
    ! grep -q "Can't contact LDAP server" "$work/kelvo.out" || grep -q 'BAD DN' "$work/kelvo.out"; then
    tail -n 20 "$work/kelvo.out" >&2
    bench_fail "kelvo (status $kelvo_rc) did not read all $count DNs and stop at the connection"
fi

awk -v n="$count" -v ss="$sort_s" -v sk="$sort_kib" -v ks="$kelvo_s" -v kk="$kelvo_kib" 'BEGIN {
    printf "DNs:             %d (kelvo read all, then stopped at the connection)\n", n
    printf "sort:            %.2f s, peak %.1f MiB\n", ss, sk / 1024
    printf "kelvo:           %.2f s, peak %.1f MiB\n", ks, kk / 1024
    if (ss > 0)
        printf "time ratio:      %.2f (target < 3): %s\n", ks / ss, (ks / ss < 3) ? "met" : "MISSED"
    else
        printf "time ratio:      not measured (sort took under 0.01 s; use more DNs)\n"
    printf "memory target:   %s (< 74 MiB)\n", (kk / 1024 < 74) ? "met" : "MISSED"
}'
