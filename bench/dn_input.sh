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
# 10 MiB line buffer.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/kelvo}
count=${2:-200000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$count" >"$work/dns.txt" <<'PY'
import random, sys
n = int(sys.argv[1])
rng = random.Random(7)
rows = [f"CN=User {i:07d},OU=Dept{i % 97:02d},OU=Staff,DC=corp,DC=example" for i in range(n)]
rng.shuffle(rows)
sys.stdout.write("\n".join(rows) + "\n")
PY

measure() { # prints "seconds peak_kib"
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$work/time"
}

read -r sort_s sort_kib < <(measure sort -o "$work/sorted.txt" "$work/dns.txt")
read -r kelvo_s kelvo_kib < <(measure sh -c \
    "'$bin' -unsafe -stdinsort -h 127.0.0.1:9 -t 5 description::x < '$work/dns.txt'")

awk -v n="$count" -v ss="$sort_s" -v sk="$sort_kib" -v ks="$kelvo_s" -v kk="$kelvo_kib" 'BEGIN {
    printf "DNs:             %d\n", n
    printf "sort:            %.2f s, peak %.1f MiB\n", ss, sk / 1024
    printf "kelvo:           %.2f s, peak %.1f MiB\n", ks, kk / 1024
    ratio = (ss > 0) ? ks / ss : 0
    printf "time ratio:      %.2f (target < 3)\n", ratio
    printf "memory target:   %s (< 74 MiB)\n", (kk / 1024 < 74) ? "met" : "MISSED"
}'
