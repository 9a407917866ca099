#!/usr/bin/env bash
# Demo: builds the library and its tools and runs them on the virtual sensor
# driver (no camera needed). Installs missing Debian packages first (needs
# root).
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
echo "Building the library, the virtual sensor and ozr-capture in $build ..."
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DOZR_BUILD_BENCHMARKS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target ozr-sim ozrsim ozr-capture > /dev/null

out=$root/build/demo-output
rm -rf "$out"
mkdir -p "$out"
logs=$out/logs
mkdir -p "$logs"
sim=("$build/sim/ozr-sim" --model "$model" --scene "$scene" --report-truth)
capture=$build/tools/ozr-capture
frames=30
filters=(--set MEDIAN_FILTER_ENABLE=on --set TEMPORAL_FILTER_ENABLE=on
         --set EDGE_FILTER_ENABLE=on)

# Value of a number field in the last JSON line of a file.
last_field() {
    tail -n 1 "$1" | sed -n "s/.*\"$2\":\([0-9.]*\).*/\1/p"
}
# "centre C mm, median M mm" from the virtual sensor's report.
truth_field() {
    sed -n "s/^ozr-sim: true distance of the last frame: .*$2 \([0-9.]*\) mm.*/\1/p" "$1" | tail -n 1
}

# Streams the frames; statistics as JSON lines into $1.json, messages into
# $1.log; $2 are options of ozr-sim, the rest options of ozr-capture.
run_capture() {
    local name=$1 simopt=$2
    shift 2
    # shellcheck disable=SC2086
    "${sim[@]}" $simopt -- "$capture" --frames "$frames" "${filters[@]}" --json "$@" \
        > "$logs/$name.json" 2> "$logs/$name.log"
    printf '  %-22s %s frames, %.1f %% valid pixels, median %s mm, centre %s mm\n' "$name" \
        "$(wc -l < "$logs/$name.json")" "$(last_field "$logs/$name.json" valid_percent)" \
        "$(last_field "$logs/$name.json" median_distance_mm)" \
        "$(last_field "$logs/$name.json" centre_distance_mm)"
}

echo
echo "=== ozr-capture on the virtual sensor: 5 distance frames of the \"$scene\" scene ==="
"${sim[@]}" --calibration -- "$capture" --frames 5 "${filters[@]}" 2> /dev/null \
    | sed 's/^/  /'

echo
echo "=== $model on the virtual sensor, scene \"$scene\": $frames distance frames each,"
echo "    median, temporal and edge filters on ==="
run_capture "without calibration" ""
run_capture "with calibration" "--calibration" --out "$out" --every 10 --preview

truth=$logs/"with calibration.log"
uncal=$logs/"without calibration.json"
cal=$logs/"with calibration.json"
echo
echo "=== The last frame against the virtual sensor's true distances ==="
printf '  %-30s %14s %14s\n' "" "centre pixel" "median"
printf '  %-30s %11s mm %11s mm\n' "true distance" "$(truth_field "$truth" centre)" \
    "$(truth_field "$truth" median)"
printf '  %-30s %11s mm %11s mm\n' "measured, without calibration" \
    "$(last_field "$uncal" centre_distance_mm)" "$(last_field "$uncal" median_distance_mm)"
printf '  %-30s %11s mm %11s mm\n' "measured, with calibration" \
    "$(last_field "$cal" centre_distance_mm)" "$(last_field "$cal" median_distance_mm)"
echo "  (the true median is over every pixel; the camera's over its valid pixels, without"
echo "   the saturated, dark and edge pixels that carry a pixel code)"

# --- Record 10 DCS frames and replay them ------------------------------------
recording=$out/recording.h5
echo
echo "=== 10 raw DCS frames recorded to $recording, then replayed through the"
echo "    virtual driver (ozr-sim --replay) to the same capture ==="
"${sim[@]}" -- "$capture" --mode dcs4 --frames 10 --single --record "$recording" \
    --out "$out/recorded" > "$logs/record.txt" 2> "$logs/record.log"
"$build/sim/ozr-sim" --replay "$recording" -- "$capture" --mode dcs4 --frames 10 --single \
    --out "$out/replayed" > "$logs/replay.txt" 2> "$logs/replay.log"
same=0
for f in "$out"/recorded/*.png; do
    cmp -s "$f" "$out/replayed/$(basename "$f")" && same=$((same + 1))
done
echo "  recorded:  $(tail -n 2 "$logs/record.txt" | head -n 1)"
echo "  replayed:  $(tail -n 2 "$logs/replay.txt" | head -n 1)"
echo "  $same of $(ls "$out"/recorded/*.png | wc -l) DCS images of the replay identical to the recorded ones"
rm -rf "$out/recorded" "$out/replayed"

echo
echo "=== Pictures ==="
echo "  16-bit PNG files of frames 10, 20 and 30 (distance, amplitude, phase, DCS 0-3) and"
echo "  colour previews with a legend, in $out:"
for f in "$out"/frame-000030-*-preview.png; do
    echo "    $f"
done
echo "  Statistics of every frame (JSON lines) and the messages of each run are in $logs."
