#!/usr/bin/env bash
# Cross-builds the library and its kernel and stage tests (ozr_kernel_tests)
# for 64-bit Arm (Release, warnings as errors) and runs them under qemu-user
# on CPU models chosen so that every instruction set the kernels are compiled
# for on Arm runs every kernel test: the tests loop over all instruction sets
# the emulated CPU offers (testsupport::forEachTarget). Fails when a compiled
# instruction set was not run. Called by test.sh after the x86-64 builds;
# installs what is missing on a fresh Debian machine first (needs root).
#
#   scripts/test-arm64.sh          # the runs that cover every instruction set
#   scripts/test-arm64.sh --all    # also NEON alone, SVE without SVE2, and
#                                  # SVE2 at 512 and 2048 bits
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Each run: qemu CPU model | what it offers. Plain "max" is SVE2 at 512 bits;
# SVE2 at 128 bits adds SVE2_128, SVE at 256 bits adds SVE_256, and both also
# run SVE2, SVE and NEON.
runs=("max,sve128=on|SVE2 at 128 bits"
      "max,sve256=on|SVE2 at 256 bits")
case ${1:-} in
    "") ;;
    --all) runs+=("cortex-a72|NEON"
                  "a64fx|SVE at 512 bits without SVE2"
                  "max|SVE2 at 512 bits"
                  "max,sve2048=on,sve-default-vector-length=256|SVE2 at 2048 bits") ;;
    *) echo "usage: $0 [--all]" >&2; exit 2 ;;
esac

# shellcheck source=scripts/deps.sh
. "$root/scripts/deps.sh"
ozr_install_arm64_deps

dir=$root/build/arm64
mkdir -p "$root/build"
echo "=== arm64: configure and build ==="
SECONDS=0
cmake -S "$root" -B "$dir" --toolchain "$root/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DOZR_WERROR=ON -DOZR_BUILD_BENCHMARKS=OFF -DOZR_BUILD_APPS=OFF \
    > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j "$jobs" --target ozrtofcam ozr_kernel_tests
echo "arm64 build: ${SECONDS} s"

compiled=""
tested=" "
for run in "${runs[@]}"; do
    cpu=${run%%|*}
    echo "=== arm64 ${run#*|} (-cpu $cpu) ==="
    SECONDS=0
    log=$dir/kernel_tests.$cpu.log
    # No -L prefix: the installed arm64 C library serves the emulator.
    timeout 1200 qemu-aarch64 -cpu "$cpu" "$dir/tests/ozr_kernel_tests" --gtest_brief=1 \
        2>&1 | tee "$log"
    echo "arm64 -cpu $cpu: ${SECONDS} s"
    compiled=$(sed -n 's/^Instruction sets compiled: //p' "$log")
    read -ra sets <<< "$(sed -n 's/^Instruction sets tested on this CPU: //p' "$log")"
    for t in "${sets[@]}"; do
        [[ $tested == *" $t "* ]] || tested+="$t "
    done
done

missing=()
for t in $compiled; do
    [[ $tested == *" $t "* ]] || missing+=("$t")
done
if [ -z "$compiled" ] || [ ${#missing[@]} -gt 0 ]; then
    echo "arm64: instruction sets compiled but not run: ${missing[*]:-(no report)}" >&2
    exit 1
fi
echo "=== arm64 passed: every compiled instruction set ran ($compiled) ==="
