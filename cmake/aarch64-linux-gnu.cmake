# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu). Programs built here, the tests included, run on
# the build machine under qemu user-mode emulation (qemu-user-static).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and headers come from the target's tree only, so that a host
# library (zlib, say) is never linked into an aarch64 program; build tools
# come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The test harness starts the emulator with execve, which does not search
# PATH, so the emulator is named by its full path. -L lets dynamically
# linked test programs find the target's loader and C++ runtime.
find_program(TOOLCRATE_QEMU_AARCH64 qemu-aarch64-static
    PATHS /usr/bin /usr/local/bin NO_CMAKE_FIND_ROOT_PATH)
if(NOT TOOLCRATE_QEMU_AARCH64)
    set(TOOLCRATE_QEMU_AARCH64 /usr/bin/qemu-aarch64-static)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${TOOLCRATE_QEMU_AARCH64};-L;/usr/aarch64-linux-gnu")
