#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a small program
# against it, once with find_package and once with pkg-config.
set -euo pipefail
build_dir=$1
consumer_dir=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
# The tree's library directory below the prefix (lib/<multiarch> for /usr).
libdir_rel=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build_dir/CMakeCache.txt")
lib=$prefix/${libdir_rel:-lib}

cmake --install "$build_dir" --prefix "$prefix" > "$work/install.log"
test -L "$lib/libozrtofcam.so"
test -L "$lib/libozrtofcam.so.1"
test -f "$lib/libozrtofcam.so.1.4.0"
soname=$(objdump -p "$lib/libozrtofcam.so.1.4.0" | awk '/SONAME/ {print $2}')
[ "$soname" = "libozrtofcam.so.1" ] || { echo "unexpected SONAME $soname"; exit 1; }

# CMake package.
cmake -S "$consumer_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" > "$work/configure.log"
cmake --build "$work/cmake-build" > "$work/build.log"
LD_LIBRARY_PATH="$lib" "$work/cmake-build/consumer" | tee "$work/cmake-run.log"
grep -q "consumer ok" "$work/cmake-run.log"

# pkg-config.
export PKG_CONFIG_PATH="$lib/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++20 "$consumer_dir/main.cpp" -o "$work/pkgconfig-consumer" \
    $(pkg-config --cflags --libs ozrtofcam)
LD_LIBRARY_PATH="$lib" "$work/pkgconfig-consumer" | tee "$work/pkg-run.log"
grep -q "consumer ok" "$work/pkg-run.log"
# The Python module, when built: importable from the installed prefix, where
# it finds the installed library by itself.
module=$(find "$prefix" -name 'ozrtofcam.cpython-*.so' | head -n 1)
if [ -n "$module" ]; then
    env -u LD_LIBRARY_PATH PYTHONPATH="$(dirname "$module")" /usr/bin/python3 -c \
        "import ozrtofcam, sys; assert ozrtofcam.__file__.startswith(sys.argv[1]); print('python ok', ozrtofcam.__version__)" \
        "$prefix" | tee "$work/python-run.log"
    grep -q "python ok" "$work/python-run.log"
fi
echo "install and consume: ok"
