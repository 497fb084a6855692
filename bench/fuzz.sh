#!/usr/bin/env bash
# bench/fuzz.sh [SECONDS] - fuzzes each input parser's harness (tests/fuzz)
# for SECONDS (default 60), one after another, and prints per harness the
# executions, executions per second, the corpus size and the crashes (a
# harness that executed nothing counts as one).  Each
# harness starts from a work corpus in a temporary folder, merged from its
# seeds; the repository's seeds are never written.  Exits 1 when any
# harness crashed, hung, leaked or broke an invariant; the inputs that did
# are copied to build-fuzz/fuzz-findings/<harness>/.
#
# Builds build-fuzz/ (clang, -DKELVO_FUZZ=ON) when a harness is missing.
# FUZZ_HARNESSES="switches csv_line" picks harnesses; FUZZ_JOBS=N runs N
# harnesses at a time (default 1); FUZZ_KEEP=1 keeps the work corpora.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in '' | *[!0-9]*)
    echo "usage: bench/fuzz.sh [SECONDS]" >&2
    exit 2
    ;;
esac
build=build-fuzz
all=$(find tests/fuzz -maxdepth 1 -name 'fuzz_*.cpp' -printf '%f\n' | sed 's/^fuzz_//; s/\.cpp$//' | sort)
harnesses=${FUZZ_HARNESSES:-$all}

missing=0
for h in $harnesses; do [ -x "$build/fuzz/fuzz_$h" ] || missing=1; done
if [ "$missing" -eq 1 ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_FUZZ=ON \
        >/dev/null
    cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target fuzz_targets >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-fuzz-XXXXXX")
if [ -z "${FUZZ_KEEP:-}" ]; then trap 'rm -rf "$work"' EXIT; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

# One harness: merge the seeds into a fresh corpus, fuzz, write a result line.
run_one() {
    local h=$1 dir=$work/$1 bin=$build/fuzz/fuzz_$1
    mkdir -p "$dir/corpus"
    "$bin" -merge=1 "$dir/corpus" "tests/fuzz/corpus/$h" >"$dir/merge.log" 2>&1 || true
    local rc=0
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$dir/" "$dir/corpus" >"$dir/fuzz.log" 2>&1 || rc=$?
    local execs rate findings
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/fuzz.log" | tail -1)
    findings=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o \
        -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    if [ "$rc" -ne 0 ] && [ "$findings" -eq 0 ]; then findings=1; fi
    # A harness that ran no input did not fuzz: that fails too.
    case ${execs:-0} in '' | *[!0-9]* | 0) [ "$findings" -ne 0 ] || findings=1 ;; esac
    printf '%-18s %12s %8s %8s %8s\n' "$h" "${execs:-?}" "${rate:-?}" \
        "$(find "$dir/corpus" -type f | wc -l)" "$findings" >"$dir/result"
    if [ "$findings" -ne 0 ]; then
        mkdir -p "$build/fuzz-findings/$h"
        find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
            -o -name 'oom-*' -o -name 'fuzz.log' \) -exec cp {} "$build/fuzz-findings/$h/" \;
    fi
}

jobs=${FUZZ_JOBS:-1}
running=0
for h in $harnesses; do
    if [ ! -x "$build/fuzz/fuzz_$h" ]; then
        echo "bench/fuzz.sh: no harness $h" >&2
        exit 2
    fi
    run_one "$h" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

printf '%-18s %12s %8s %8s %8s\n' harness executions exec/s corpus crashes
failed=0
for h in $harnesses; do
    cat "$work/$h/result"
    read -r _ _ _ _ n <"$work/$h/result"
    [ "$n" -eq 0 ] || failed=1
done
echo "($seconds s per harness; work corpora in $work${FUZZ_KEEP:+, kept})"
if [ "$failed" -ne 0 ]; then
    echo "bench/fuzz.sh: findings copied to $build/fuzz-findings/" >&2
    exit 1
fi
