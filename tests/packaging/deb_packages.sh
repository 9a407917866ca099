#!/usr/bin/env bash
# Builds the Debian packages from a configured and built tree, checks them
# with lintian (any error fails), unpacks them into a temporary root (never
# installs them) and uses them from there: an example program built against
# the development package with find_package and with pkg-config runs on the
# unpacked virtual sensor; the Python module imports and the GStreamer
# element is found.
# Usage: deb_packages.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build_dir=$1
source_dir=$2
work=$3
rm -rf "$work"
mkdir -p "$work"

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build_dir/CMakeCache.txt")
cpack_args=(-G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/packages")
if [ "$prefix" != /usr ]; then
    # A tree configured for another prefix packages into /usr all the same
    # (CPACK_PACKAGING_INSTALL_PREFIX), with the library directory and the
    # Python directory of its own prefix; configure with
    # -DCMAKE_INSTALL_PREFIX=/usr for the Debian layout.
    echo "note: the build tree's prefix is $prefix, not /usr: packaging into /usr anyway"
    cpack_args+=(-D CPACK_PACKAGING_INSTALL_PREFIX=/usr)
fi
(cd "$work" && cpack "${cpack_args[@]}") > "$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log"; exit 1; }
packages=(libozrtofcam1 libozrtofcam-dev ozrtofcam-tools python3-ozrtofcam gstreamer1.0-ozrtofcam)
debs=()
for p in "${packages[@]}"; do
    deb=$(find "$work/packages" -maxdepth 1 -name "${p}_*.deb")
    [ -n "$deb" ] || { echo "package $p was not built"; exit 1; }
    debs+=("$deb")
    echo "$p: $(dpkg-deb -f "$deb" Depends)"
done

# lintian: errors fail, warnings are shown.
lintian --fail-on error "${debs[@]}" 2>&1 | tee "$work/lintian.log"

# The library's package holds the library and its SONAME link and nothing of
# the virtual driver; the development package the link for the linker.
# (Output is taken whole before grep -q: an early match must not fail the
# writer with SIGPIPE under pipefail.)
contents() { dpkg-deb -c "$1" | awk '{print $6}'; }
has() { local text; text=$(contents "$1"); shift; grep -q "$@" <<< "$text"; }
has "${debs[0]}" '/libozrtofcam\.so\.1$'
if has "${debs[0]}" -e 'libozrsim' -e '/libozrtofcam\.so$'; then
    echo "libozrtofcam1 holds files of other packages"; exit 1
fi
has "${debs[1]}" '/libozrtofcam\.so$'
has "${debs[2]}" '/libozrsim\.so$'
grep -q 'libozrtofcam1 (= ' <<< "$(dpkg-deb -f "${debs[1]}" Depends)"
for deb in "${debs[@]}"; do
    p=$(dpkg-deb -f "$deb" Package)
    has "$deb" "^\./usr/share/doc/$p/copyright$"
    has "$deb" "^\./usr/share/doc/$p/changelog\.Debian\.gz$"
done

root=$work/root
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$root"
done
libdir=$(dirname "$(find "$root/usr/lib" -name 'libozrtofcam.so.1' | head -n 1)")
export LD_LIBRARY_PATH=$libdir
sim=(timeout 60 "$root/usr/bin/ozr-sim" --model ozr320 --scene boxes --calibration --)

check_run() {  # program: runs on the unpacked virtual sensor, links the unpacked library
    local program=$1 log=$2
    local libs
    libs=$(ldd "$program")
    grep -q "=> $libdir/libozrtofcam.so.1 " <<< "$libs" \
        || { echo "$libs"; echo "$program does not use the unpacked library"; exit 1; }
    "${sim[@]}" "$program" 2 > "$log" 2>&1 || { cat "$log"; exit 1; }
    grep -q "Captured 2 single frames" "$log" || { cat "$log"; exit 1; }
}

# CMake: find_package(ozrtofcam) from the unpacked root.
cmake -S "$source_dir/examples" -B "$work/cmake-build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$root/usr" > "$work/cmake-configure.log" 2>&1 \
    || { cat "$work/cmake-configure.log"; exit 1; }
grep -q "ozrtofcam_DIR:PATH=$root/usr/" "$work/cmake-build/CMakeCache.txt"
cmake --build "$work/cmake-build" --target example_single_capture > "$work/cmake-build.log" 2>&1 \
    || { cat "$work/cmake-build.log"; exit 1; }
check_run "$work/cmake-build/single_capture" "$work/cmake-run.log"
echo "find_package: ok"

# pkg-config: the file places its prefix relative to itself, so the unpacked
# copy points into the unpacked root.
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs ozrtofcam)
echo "pkg-config: $flags"
[ "$(realpath "$(pkg-config --variable=includedir ozrtofcam)")" = "$root/usr/include" ] \
    && [ "$(realpath "$(pkg-config --variable=libdir ozrtofcam)")" = "$libdir" ] \
    || { echo "pkg-config points outside $root"; exit 1; }
# shellcheck disable=SC2086
g++ -std=c++20 -O1 "$source_dir/examples/single_capture.cpp" -o "$work/pkgconfig-single_capture" $flags
check_run "$work/pkgconfig-single_capture" "$work/pkgconfig-run.log"
echo "pkg-config: ok"

# The Python module imports from the unpacked root and finds the unpacked library.
module=$(find "$root/usr/lib" -name 'ozrtofcam.cpython-*.so' | head -n 1)
env -u LD_LIBRARY_PATH PYTHONPATH="$(dirname "$module")" /usr/bin/python3 -c \
    "import ozrtofcam, sys; assert ozrtofcam.__file__.startswith(sys.argv[1]); print('python:', ozrtofcam.__version__)" \
    "$root"
# The GStreamer element loads from the unpacked plugin directory.
plugin_dir=$(dirname "$(find "$root/usr/lib" -name 'libgstozrtof.so' | head -n 1)")
GST_REGISTRY=$work/gst-registry.bin GST_PLUGIN_PATH=$plugin_dir GST_PLUGIN_SYSTEM_PATH=$plugin_dir \
    gst-inspect-1.0 ozrtofsrc > "$work/gst-inspect.log" 2>&1 || { cat "$work/gst-inspect.log"; exit 1; }
grep -q "$plugin_dir/libgstozrtof.so" "$work/gst-inspect.log" || { cat "$work/gst-inspect.log"; exit 1; }
echo "gstreamer: ok"
echo "Debian packages: ok"
