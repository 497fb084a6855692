#!/usr/bin/env bash
# run_fuzz.sh HARNESS SEEDS WORK RUNS SECONDS - one fuzz test: the harness
# runs every seed, then RUNS mutated inputs (at most SECONDS in all) with a
# fixed random seed.  New inputs go to WORK/corpus, never to the seeds.  Any
# crash, sanitizer report, leak, timeout (10 s per input) or broken
# invariant fails the test; the input that caused it stays in WORK.
set -euo pipefail
harness=$1 seeds=$2 work=$3 runs=$4 seconds=$5

if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds")" ]; then
    echo "run_fuzz.sh: no seed corpus in $seeds" >&2
    exit 1
fi
rm -rf "$work"
mkdir -p "$work/corpus"
rc=0
"$harness" -seed=1 -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$seeds" || rc=$?
artifacts=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o \
    -name 'timeout-*' -o -name 'oom-*' \) | sort)
if [ "$rc" -ne 0 ] || [ -n "$artifacts" ]; then
    echo "run_fuzz.sh: $(basename "$harness") failed (exit $rc); inputs kept:" >&2
    printf '  %s\n' $artifacts >&2
    exit 1
fi
