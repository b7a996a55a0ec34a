# The android-sysroot preset's toolchain file: static arm64 Android
# executables (API 24 and later) built with Debian's clang-16, lld-16 and
# libc++ 16 headers against an Android sysroot, without an NDK toolchain.
#
#   TOOLCRATE_ANDROID_SYSROOT  the sysroot: ../shared/android-sysroot beside
#                              the source tree by default, or an NDK's own
#                              (toolchains/llvm/prebuilt/linux-x86_64/sysroot)
#   TOOLCRATE_ANDROID_BUILTINS LLVM's arm64 compiler-rt builtins, which
#                              libc.a calls (outline atomics): the sysroot's
#                              compiler-rt/ copy, or the NDK compiler's own
#
# The programs link plain static: crtbegin_static.o, the objects, libc.a,
# libm.a and the builtins, crtend_android.o, and nothing else (-nostdlib).
# A static PIE links too but crashes at start, as this libc.a applies no
# relocations of the executable's own. No C++ runtime library is linked:
# the product is built without exceptions and RTTI, libc++'s headers serve
# templates only, and bionic's libc.a has operator new and __cxa_guard_*.
# A later change that needs a C++ runtime symbol (a std::string member
# libc++ keeps out of line, __cxa_throw, typeinfo) fails the link with an
# undefined symbol, on purpose: the NDK's libc++ is not here to link.
#
# The programs run on the build machine under qemu-aarch64-static.
set(CMAKE_SYSTEM_NAME Android)
# 1 keeps CMake's own Android support, which wants an NDK or a standalone
# toolchain, out of the way: this file sets everything itself.
set(CMAKE_SYSTEM_VERSION 1)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOOLCRATE_ANDROID_API 24)

set(TOOLCRATE_ANDROID_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../../shared/android-sysroot"
    CACHE PATH "Android sysroot: bionic's headers, libc.a and start-up objects")
get_filename_component(toolcrate_sysroot "${TOOLCRATE_ANDROID_SYSROOT}" ABSOLUTE)
if(NOT EXISTS "${toolcrate_sysroot}/usr/include/stdio.h")
    message(FATAL_ERROR "TOOLCRATE_ANDROID_SYSROOT=${toolcrate_sysroot} holds no Android sysroot (usr/include/stdio.h): "
        "pass -DTOOLCRATE_ANDROID_SYSROOT=/path/to/sysroot, such as an NDK's toolchains/llvm/prebuilt/linux-x86_64/sysroot")
endif()
set(CMAKE_SYSROOT "${toolcrate_sysroot}")
# CMake's compiler checks read this file again in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOOLCRATE_ANDROID_SYSROOT TOOLCRATE_ANDROID_BUILTINS)

# The libraries and start-up objects: in an NDK's sysroot under the API
# level's own directory, in the shared sysroot one level up.
set(toolcrate_android_lib "${toolcrate_sysroot}/usr/lib/aarch64-linux-android")
set(toolcrate_android_link_files)
foreach(file IN ITEMS crtbegin_static.o libc.a libm.a crtend_android.o)
    set(found "")
    foreach(dir IN ITEMS "${toolcrate_android_lib}/${TOOLCRATE_ANDROID_API}" "${toolcrate_android_lib}")
        if(NOT found AND EXISTS "${dir}/${file}")
            set(found "${dir}/${file}")
        endif()
    endforeach()
    if(NOT found)
        message(FATAL_ERROR "the Android sysroot ${toolcrate_sysroot} has no ${file} in usr/lib/aarch64-linux-android/${TOOLCRATE_ANDROID_API} or usr/lib/aarch64-linux-android")
    endif()
    string(REGEX REPLACE "[._]" "_" key "${file}")
    set(toolcrate_android_${key} "${found}")
endforeach()

# An NDK keeps them beside its sysroot: lib/clang/VERSION/lib/linux (r26
# and later) or lib64/clang/VERSION/lib/linux.
file(GLOB toolcrate_ndk_builtins
    "${toolcrate_sysroot}/../lib/clang/*/lib/linux/libclang_rt.builtins-aarch64-android.a"
    "${toolcrate_sysroot}/../lib64/clang/*/lib/linux/libclang_rt.builtins-aarch64-android.a")
set(toolcrate_builtins_default "${toolcrate_sysroot}/compiler-rt/libclang_rt.builtins-aarch64.a")
if(NOT EXISTS "${toolcrate_builtins_default}" AND toolcrate_ndk_builtins)
    list(GET toolcrate_ndk_builtins 0 toolcrate_builtins_default)
endif()
set(TOOLCRATE_ANDROID_BUILTINS "${toolcrate_builtins_default}"
    CACHE FILEPATH "LLVM's compiler-rt builtins library for arm64")
if(NOT EXISTS "${TOOLCRATE_ANDROID_BUILTINS}")
    message(FATAL_ERROR "no arm64 compiler-rt builtins at ${TOOLCRATE_ANDROID_BUILTINS}: pass -DTOOLCRATE_ANDROID_BUILTINS=/path/to/libclang_rt.builtins-aarch64(-android).a")
endif()

find_program(TOOLCRATE_CLANGXX clang++-16)
if(NOT TOOLCRATE_CLANGXX)
    message(FATAL_ERROR "clang++-16 is not installed (Debian packages clang-16 lld-16 libc++-16-dev)")
endif()
set(toolcrate_libcxx_headers /usr/lib/llvm-16/include/c++/v1)
if(NOT EXISTS "${toolcrate_libcxx_headers}/vector")
    message(FATAL_ERROR "the libc++ 16 headers are not installed (Debian package libc++-16-dev)")
endif()
set(CMAKE_CXX_COMPILER "${TOOLCRATE_CLANGXX}")
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-android${TOOLCRATE_ANDROID_API})
# binutils' strip cannot read arm64 executables; LLVM's can.
find_program(CMAKE_STRIP NAMES llvm-strip-16 llvm-strip)
if(NOT CMAKE_STRIP)
    message(FATAL_ERROR "llvm-strip is not installed (Debian package llvm-16): the install and the release archive strip the programs with it")
endif()
find_program(CMAKE_AR NAMES llvm-ar-16 llvm-ar ar)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-16 llvm-ranlib ranlib)

set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${toolcrate_libcxx_headers} -fno-exceptions -fno-rtti")
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> -Wno-unused-command-line-argument -fuse-ld=lld -static -nostdlib ${toolcrate_android_crtbegin_static_o} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> -Wl,--start-group ${toolcrate_android_libc_a} ${toolcrate_android_libm_a} ${TOOLCRATE_ANDROID_BUILTINS} -Wl,--end-group ${toolcrate_android_crtend_android_o}")

# Only the sysroot's headers and libraries; programs come from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Full path: the test harness starts it with execve, which searches no PATH.
find_program(TOOLCRATE_QEMU_AARCH64 qemu-aarch64-static PATHS /usr/bin /usr/local/bin NO_CMAKE_FIND_ROOT_PATH)
if(NOT TOOLCRATE_QEMU_AARCH64)
    set(TOOLCRATE_QEMU_AARCH64 /usr/bin/qemu-aarch64-static)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${TOOLCRATE_QEMU_AARCH64}")
