#!/usr/bin/env bash
# SDDL -> binary -> SDDL over every descriptor a lab domain controller holds
# (each object's nTSecurityDescriptor as Samba prints it and each class's
# defaultSecurityDescriptor): our security library (sddl_bench) against
# Samba's Python bindings (descriptor.from_sddl, ndr_pack, ndr_unpack,
# as_sddl) on the same lines in the same run.  Each side runs three times,
# alternating who goes first; the best run of each counts.
#
#   bench/sddl_roundtrip.sh [BUILD_DIR] [ITERATIONS]
#
# Reports nanoseconds per descriptor and the ratio ours / Samba's (target
# <= 0.5).  Fails when either side does not run or does not convert every
# line.  Starts its own lab (SDDL_BENCH_ADDR, default 127.0.64.31) and stops
# it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath -m "${1:-$here/../build}")
iterations=${2:-20}
bench=$build/bench/sddl_bench
[ -x "$bench" ] || { echo "FAIL: $bench not built (target sddl_bench)" >&2; exit 1; }
# shellcheck source=lab_bench.sh
source "$here/lab_bench.sh"
start_bench_lab "${SDDL_BENCH_ADDR:-127.0.64.31}"

corpus=$work/corpus.txt
sid=$(cd "$here/../tests/integration" && /usr/bin/python3 sddl_dump.py "$lab/lab.env" "$corpus")
lines=$(wc -l <"$corpus")
[ "$lines" -gt 0 ] || { echo "FAIL: empty corpus" >&2; exit 1; }
echo "corpus: $lines descriptors from the lab DC (domain $sid), $iterations iterations"

ours_run() {
    "$bench" "$sid" "$iterations" <"$corpus"
}
samba_run() {
    /usr/bin/python3 - "$sid" "$iterations" "$corpus" <<'PY'
import sys
import time
from samba.dcerpc import security
from samba.ndr import ndr_pack, ndr_unpack
sid, iterations, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
domain = security.dom_sid(sid)
with open(path, encoding="utf-8") as f:
    lines = [l.rstrip("\n") for l in f if l.strip()]
done = printed = 0
start = time.perf_counter_ns()
for _ in range(iterations):
    for line in lines:
        data = ndr_pack(security.descriptor.from_sddl(line, domain))
        printed += len(ndr_unpack(security.descriptor, data).as_sddl(domain))
        done += 1
elapsed = time.perf_counter_ns() - start
if done != len(lines) * iterations or printed == 0:
    sys.exit(1)
print("descriptors %d iterations %d ns_per_descriptor %.1f"
      % (len(lines), iterations, elapsed / done))
PY
}
# "descriptors N iterations K ns_per_descriptor T" -> T, after checking N.
ns_of() { # name output
    local n t
    n=$(awk '{print $2}' <<<"$2")
    t=$(awk '{print $6}' <<<"$2")
    if [ "$n" != "$lines" ] || [ -z "$t" ]; then
        echo "FAIL: $1 processed '${n:-nothing}' of $lines descriptors: $2" >&2
        exit 1
    fi
    echo "$t"
}

best_o=""; best_s=""
for run in 1 2 3; do
    if [ $((run % 2)) = 1 ]; then
        o=$(ours_run) || { echo "FAIL: sddl_bench did not run" >&2; exit 1; }
        s=$(samba_run) || { echo "FAIL: Samba side did not run" >&2; exit 1; }
    else
        s=$(samba_run) || { echo "FAIL: Samba side did not run" >&2; exit 1; }
        o=$(ours_run) || { echo "FAIL: sddl_bench did not run" >&2; exit 1; }
    fi
    o=$(ns_of sddl_bench "$o")
    s=$(ns_of Samba "$s")
    echo "run $run: ours $o ns/descriptor, Samba $s ns/descriptor"
    best_o=$(faster "$best_o" "$o")
    best_s=$(faster "$best_s" "$s")
done
awk -v n="$lines" -v o="$best_o" -v s="$best_s" 'BEGIN {
    printf "descriptors:             %d\n", n
    printf "ours per descriptor:     %.0f ns\n", o
    printf "Samba per descriptor:    %.0f ns\n", s
    printf "time ratio ours/Samba:   %.3f (target <= 0.5): %s\n", o / s, o / s <= 0.5 ? "met" : "MISSED"
}'
