#!/usr/bin/env bash
# Runs a program against the virtual sensor under valgrind memcheck and fails
# unless valgrind reports no error and no byte definitely lost.
#
#   scripts/valgrind.sh [OZR-SIM OPTIONS] -- PROGRAM [ARGS...]
#
# The options go to the ozr-sim launcher (for example --model ozr310); the
# program's own arguments follow "--". The launcher preloads libozrsim.so
# into valgrind, which hands the preload on to the program it runs. The
# virtual sensor renders one frame before the program starts
# (OZRSIM_WARM_UP=1): under valgrind the scene's one-time set-up takes
# longer than the camera waits for an image.
#
# Environment:
#   OZR_BUILD_DIR  build whose ozr-sim is used (default build/release; not a
#                  sanitizer build: its runtimes do not run under valgrind)
#   OZR_VALGRIND_LOG  file for valgrind's report (default: a temporary file,
#                  printed on failure)
#
# The sensor's images are rendered in the program's own process, under
# valgrind too: for the OZR310, whose source waits only 200 ms for an image,
# use a smaller format (--width 160 --height 30).
#
# Example: scripts/valgrind.sh -- build/release/tools/ozr-capture --frames 3
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${OZR_BUILD_DIR:-$root/build/release}
launcher=$build/sim/ozr-sim

sim_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    sim_args+=("$1")
    shift
done
if [ $# -lt 2 ]; then
    echo "usage: $0 [OZR-SIM OPTIONS] -- PROGRAM [ARGS...]" >&2
    exit 2
fi
shift
if [ ! -x "$launcher" ]; then
    echo "$0: $launcher not found (build the ozr-sim target, or set OZR_BUILD_DIR)" >&2
    exit 2
fi
command -v valgrind > /dev/null || {
    echo "$0: valgrind not found (scripts/deps.sh installs it)" >&2
    exit 2
}

log=${OZR_VALGRIND_LOG:-}
own_log=0
if [ -z "$log" ]; then
    log=$(mktemp)
    own_log=1
fi
cleanup() { if [ "$own_log" = 1 ]; then rm -f "$log"; fi; }
trap cleanup EXIT

# A distinct exit code tells valgrind's findings from the program's own
# failure.
readonly VALGRIND_ERROR=99
status=0
OZRSIM_WARM_UP=1 "$launcher" "${sim_args[@]}" -- \
    valgrind --tool=memcheck --error-exitcode=$VALGRIND_ERROR --leak-check=full \
    --errors-for-leak-kinds=definite --show-leak-kinds=definite --log-file="$log" \
    "$@" || status=$?

summary=$(grep -E 'ERROR SUMMARY|definitely lost' "$log" | sed -E 's/^==[0-9]+== +//' |
    paste -sd ';' - || true)
echo "valgrind $(basename "$1"): $summary"
if [ "$status" -ne 0 ]; then
    if [ "$status" -eq $VALGRIND_ERROR ]; then
        echo "$0: valgrind found errors in $*" >&2
    else
        echo "$0: $* exited with status $status under valgrind" >&2
    fi
    cat "$log" >&2
    exit 1
fi
# With no heap use at all memcheck prints no leak summary; otherwise the
# summary must show nothing definitely lost.
if grep -q 'definitely lost:' "$log" && ! grep -q 'definitely lost: 0 bytes in 0 blocks' "$log"; then
    echo "$0: memory definitely lost in $*" >&2
    cat "$log" >&2
    exit 1
fi
