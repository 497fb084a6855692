#!/usr/bin/env bash
# The whole test suite: installs what the build and the lab directories need,
# then builds and runs every test twice, once with each supported compiler -
# a GCC Release build (build/) and a clang AddressSanitizer +
# UndefinedBehaviorSanitizer build (build-asan/) - builds the program in a
# clang Release tree (build-clang/), and runs the fuzz tests in a clang-built
# tree (build-fuzz/).  Every tree treats compiler warnings as errors.  The
# lab directory servers are started and stopped by the suite itself.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tests/lab/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
# Each tree's labs get their own network unless KELVO_TEST_LAB_NET names one
# for all of them (the suites run one after another).
net() { echo "${KELVO_TEST_LAB_NET:-$1}"; }

# configure DIR C-COMPILER C++-COMPILER CMAKE-ARGS...: a tree made by
# another compiler is made again from scratch.
configure() {
    local dir=$1 cc cxx
    cc=$(command -v "$2") && cxx=$(command -v "$3") || {
        echo "test.sh: $2 or $3 is not installed" >&2
        return 1
    }
    shift 3
    if [ -f "$dir/CMakeCache.txt" ] && ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$cxx" "$dir/CMakeCache.txt"; then
        rm -rf "$dir"
    fi
    cmake -S . -B "$dir" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DKELVO_WERROR=ON "$@"
}

run_suite() {
    local dir=$1 net=$2 cc=$3 cxx=$4
    shift 4
    configure "$dir" "$cc" "$cxx" -DKELVO_LAB_NET="$net" "$@"
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 900
}

run_suite build "$(net 127.0.60)" gcc g++ -DCMAKE_BUILD_TYPE=Release
# Sanitizer reports end the process with their own status, and the test
# runners also fail on any report they find in standard error.  Leaks inside
# the SASL and GSS plug-ins (not our code) are listed in tests/lsan.supp and
# need full stacks to be recognised.
export ASAN_OPTIONS=detect_leaks=1:exitcode=86:fast_unwind_on_malloc=0
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=87
run_suite build-asan "$(net 127.0.70)" clang clang++ -DCMAKE_BUILD_TYPE=Debug -DKELVO_SANITIZE=ON

# The program as a clang Release build makes it, warnings as errors; its
# tests ran above, in the two other builds.
configure build-clang clang clang++ -DCMAKE_BUILD_TYPE=Release -DKELVO_LAB_NET="$(net 127.0.75)"
cmake --build build-clang -j"$jobs" --target kelvo

# Fuzz tests: each input parser's libFuzzer harness runs its seed corpus and
# a fixed number of mutated inputs (tests/fuzz), built with clang, the
# sanitizers and the fuzzer's instrumentation in build-fuzz/.  Any crash,
# sanitizer report or broken invariant fails the suite.
fuzz_probe=$(mktemp -d)
if command -v clang++ >/dev/null 2>&1 &&
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' |
    clang++ -x c++ -fsanitize=fuzzer - -o "$fuzz_probe/probe" >/dev/null 2>&1; then
    rm -rf "$fuzz_probe"
    configure build-fuzz clang clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_FUZZ=ON \
        -DKELVO_LAB_NET="$(net 127.0.80)"
    cmake --build build-fuzz -j"$jobs" --target fuzz_targets
    # Slow unwinding on every allocation is for the SASL plug-ins, which the
    # harnesses never load.
    ASAN_OPTIONS=detect_leaks=1:exitcode=86 \
        ctest --test-dir build-fuzz -L fuzz --output-on-failure -j"$jobs" --timeout 900
else
    rm -rf "$fuzz_probe"
    echo "test.sh: clang++ with libFuzzer is not installed; the fuzz tests did not run" >&2
fi
