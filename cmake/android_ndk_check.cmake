# Checks that ANDROID_NDK names an Android NDK, when the android preset's
# toolchain file (cmake/android-ndk.cmake) is in use; otherwise does nothing.
#
# CMakeLists.txt includes this file before project(), and the toolchain file
# includes it again: a failure met while project() reads a toolchain file is
# followed by misleading errors about the compiler and Ninja, while before
# project() the one message below ends the run.
if(NOT CMAKE_TOOLCHAIN_FILE MATCHES "(^|/)cmake/android-ndk\\.cmake$")
    return()
endif()
if("$ENV{ANDROID_NDK}" STREQUAL "")
    message(FATAL_ERROR "ANDROID_NDK is not set: export ANDROID_NDK=/path/to/android-ndk (the NDK's top directory), then run cmake --preset android again")
endif()
if(NOT EXISTS "$ENV{ANDROID_NDK}/build/cmake/android.toolchain.cmake")
    message(FATAL_ERROR "ANDROID_NDK=$ENV{ANDROID_NDK} holds no build/cmake/android.toolchain.cmake: export ANDROID_NDK=/path/to/android-ndk (the NDK's top directory)")
endif()
