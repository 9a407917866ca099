#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang-14, AddressSanitizer and
# UndefinedBehaviorSanitizer (build/fuzz), and runs each one on its seed
# corpus for a bounded time:
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS per target (default 20); TARGET names (default all). New inputs go
# to build/fuzz/corpus/TARGET (the committed seeds in fuzz/corpus/ stay as
# they are); a crash leaves its input in build/fuzz/artifacts/ and fails.
# fuzz/TARGET.dict is a target's dictionary, fuzz/TARGET.options a line of
# further libFuzzer options.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(calibration device_data control_sequence recording)
dir=$root/build/fuzz
jobs=$(nproc 2>/dev/null || echo 2)

# shellcheck source=scripts/deps.sh
. "$root/scripts/deps.sh"
ozr_install_fuzz_deps

echo "=== fuzz: configure and build ==="
mkdir -p "$dir"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_WERROR=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DOZR_FUZZ=ON -DOZR_SANITIZE=address,undefined \
    -DBUILD_TESTING=OFF -DOZR_BUILD_BENCHMARKS=OFF > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j "$jobs" --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$dir/artifacts"
for t in "${targets[@]}"; do
    echo "=== fuzz: $t for ${seconds} s ==="
    corpus=$dir/corpus/$t
    mkdir -p "$corpus"
    args=(-max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 -print_final_stats=1
        -artifact_prefix="$dir/artifacts/$t-")
    [ -f "$root/fuzz/$t.dict" ] && args+=(-dict="$root/fuzz/$t.dict")
    # Further libFuzzer options of a target, on one line of fuzz/TARGET.options.
    if [ -f "$root/fuzz/$t.options" ]; then
        read -r -a extra < "$root/fuzz/$t.options"
        args+=("${extra[@]}")
    fi
    # Bounded in time whatever the target does (a run ends by itself within
    # SECONDS plus one input's timeout).
    timeout -k 30 $((seconds + 300)) \
        "$dir/fuzz/${t}_fuzzer" "${args[@]}" "$corpus" "$root/fuzz/corpus/$t" 2>&1 \
        | grep -v '^#[0-9]' || { echo "fuzz: $t failed" >&2; exit 1; }
done
echo "=== fuzz: every target ran without a finding ==="
