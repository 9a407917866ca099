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
cmake --build "$build" -j "$(nproc)" --target ozr-sim ozrsim ozr-dcs-capture > /dev/null

out=$root/build/demo-output
echo "=== $model on the virtual sensor, scene \"$scene\": streaming raw DCS frames ==="
"$build/sim/ozr-sim" --model "$model" --scene "$scene" -- \
    "$build/tools/ozr-dcs-capture" --frames 20 --out "$out"
echo "=== the same, frame by frame on demand ==="
"$build/sim/ozr-sim" --model "$model" --scene "$scene" -- \
    "$build/tools/ozr-dcs-capture" --frames 5 --single
