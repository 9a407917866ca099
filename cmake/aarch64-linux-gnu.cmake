# Cross build for 64-bit Arm Linux with the Debian cross compiler, against the
# arm64 libraries installed next to the host's (multiarch, dpkg architecture
# arm64). Programs built here run on this machine under the user-mode
# emulator; the CPU model is chosen per run with QEMU_CPU or -cpu.
#
#   cmake -S . -B build/arm64 --toolchain cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The arm64 C library's own loader serves the emulator (no -L prefix: that
# would pair it with the cross compiler's copy of the C library).
find_program(OZR_QEMU_AARCH64 qemu-aarch64)
if(OZR_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OZR_QEMU_AARCH64})
endif()
