#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Sourced by test.sh, test-arm64.sh and demo.sh.

# Installs those of the given packages (name or name:arch) that are missing.
# Architectures given as "arch:ARCH" before the packages are added to dpkg
# first when they are not known yet.
ozr_install_packages() {
    local archs=() missing=() p
    while [ $# -gt 0 ] && [ "${1#arch:}" != "$1" ]; do
        { dpkg --print-architecture; dpkg --print-foreign-architectures; } 2>/dev/null \
            | grep -qx "${1#arch:}" || archs+=("${1#arch:}")
        shift
    done
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}" >&2
        if [ ${#archs[@]} -gt 0 ]; then
            echo "Run as root, or install them first: sudo dpkg --add-architecture ${archs[*]}" \
                "&& sudo apt-get update && sudo apt-get install ${missing[*]}" >&2
        else
            echo "Run as root, or install them first: sudo apt-get install ${missing[*]}" >&2
        fi
        return 1
    fi
    for p in "${archs[@]}"; do
        echo "Adding architecture: $p"
        dpkg --add-architecture "$p"
    done
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # --no-remove: packages of another architecture must never replace the
    # host's; apt stops instead.
    apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}"
}

ozr_install_deps() {
    ozr_install_packages cmake g++ make pkg-config libgtest-dev libgmock-dev googletest \
        libbenchmark-dev nlohmann-json3-dev libhwy-dev v4l-utils libcli11-dev libpng-dev \
        python3-dev pybind11-dev python3-numpy python3-pytest python3-h5py valgrind libhdf5-dev \
        gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
        libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev \
        lintian dpkg-dev fakeroot file \
        libcpp-httplib-dev libjs-three chromium chromium-driver python3-selenium
}

# The aarch64 cross compiler, the user-mode emulator that runs its test binary,
# and the arm64 builds of the libraries the kernel tests link (the JSON library
# is header-only: the host's header serves).
ozr_install_arm64_deps() {
    ozr_install_packages arch:arm64 crossbuild-essential-arm64 qemu-user nlohmann-json3-dev \
        libc6:arm64 libhwy-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64
}

# clang-14 and its libFuzzer and sanitizer runtimes, for scripts/fuzz.sh.
ozr_install_fuzz_deps() {
    ozr_install_packages clang-14 libclang-rt-14-dev
}
