#!/usr/bin/env bash
# Demo: builds the library and runs it on the virtual sensor driver (no
# camera needed). Installs missing Debian packages first (needs root).
#
#   scripts/demo.sh [--model ozr310|ozr320] [--scene wall|boxes|tilted]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
model=ozr320
scene=boxes
while [ $# -gt 0 ]; do
    case $1 in
        --model) model=$2; shift 2 ;;
        --scene) scene=$2; shift 2 ;;
        *) echo "usage: $0 [--model ozr310|ozr320] [--scene wall|boxes|tilted]" >&2; exit 2 ;;
    esac
done

# shellcheck source=scripts/deps.sh
. "$root/scripts/deps.sh"
ozr_install_deps

build=$root/build/demo
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DOZR_BUILD_BENCHMARKS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target ozr-sim ozrsim ozr-capture > /dev/null

out=$root/build/demo-output
sim=("$build/sim/ozr-sim" --model "$model" --scene "$scene")
capture=$build/tools/ozr-capture
echo "=== $model on the virtual sensor, scene \"$scene\": raw DCS frames, streaming ==="
"${sim[@]}" -- "$capture" --frames 10
echo
echo "=== the same, one frame at a time on demand ==="
"${sim[@]}" -- "$capture" --frames 3 --single
echo
echo "=== distance without calibration (the sensor's phase errors remain) ==="
"${sim[@]}" -- "$capture" --frames 5 --distance 2>&1 \
    | grep -v -e '^\[WARNING\]' -e 'No calibration info file found'
echo
echo "=== distance with the sensor's calibration, images written to $out ==="
"${sim[@]}" --calibration -- "$capture" --frames 10 --distance --out "$out" 2>&1 \
    | grep -v '^\[DEBUG\]'
