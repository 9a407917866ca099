#!/usr/bin/env bash
# Builds and runs every test of libozrtofcam:
#   1. a Release build (warnings as errors) running the whole suite, then a
#      program under valgrind memcheck on the virtual sensor (scripts/valgrind.sh),
#   2. a Debug build with AddressSanitizer + UndefinedBehaviorSanitizer running
#      the whole suite (any report fails the run),
#   3. a build with ThreadSanitizer running the threading tests (label "threads"),
#      then a short run of every fuzz target (scripts/fuzz.sh, also runnable alone),
#   4. an aarch64 cross build of the kernel and stage tests, run under qemu-user
#      on every Arm instruction set (scripts/test-arm64.sh, also runnable alone).
# Installs what is missing on a fresh Debian machine first (needs root).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# shellcheck source=scripts/deps.sh
. "$root/scripts/deps.sh"
ozr_install_deps
ozr_install_arm64_deps

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

build_and_test() {
    local name=$1 type=$2 sanitize=$3 label=$4
    local dir=$root/build/$name
    echo "=== $name: configure and build ==="
    # The /usr prefix gives the Debian layout that the packaging test checks.
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DOZR_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr \
        -DOZR_SANITIZE="$sanitize" -DOZR_BUILD_BENCHMARKS="$([ -z "$sanitize" ] && echo ON || echo OFF)" \
        > "$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j "$jobs"
    echo "=== $name: test ==="
    local args=(--test-dir "$dir" --output-on-failure -j "$jobs")
    [ -n "$label" ] && args+=(-L "$label")
    ctest "${args[@]}"
}

mkdir -p "$root/build"
build_and_test release Release "" ""
echo "=== release: memcheck of an example on the virtual sensor ==="
OZR_BUILD_DIR=$root/build/release "$root/scripts/valgrind.sh" --width 160 --height 120 -- \
    "$root/build/release/examples/stream_distance" 3
build_and_test asan-ubsan Debug "address,undefined" ""
build_and_test tsan RelWithDebInfo "thread" threads
"$root/scripts/fuzz.sh"
"$root/scripts/test-arm64.sh"
echo "=== all test builds passed ==="
