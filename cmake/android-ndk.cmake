# The android preset's toolchain file: checks that ANDROID_NDK names an
# Android NDK, then hands over to the NDK's own toolchain file.
#
# CMakeLists.txt also includes this file before project(), with
# TOOLCRATE_ANDROID_NDK_CHECK_ONLY set, because a failure met while
# project() reads a toolchain file is followed by misleading errors about
# the compiler and Ninja; before project(), the one message ends the run.
if("$ENV{ANDROID_NDK}" STREQUAL "")
    message(FATAL_ERROR "ANDROID_NDK is not set: export ANDROID_NDK=/path/to/android-ndk (the NDK's top directory), then run cmake --preset android again")
endif()
if(NOT EXISTS "$ENV{ANDROID_NDK}/build/cmake/android.toolchain.cmake")
    message(FATAL_ERROR "ANDROID_NDK=$ENV{ANDROID_NDK} holds no build/cmake/android.toolchain.cmake: export ANDROID_NDK=/path/to/android-ndk (the NDK's top directory)")
endif()
if(NOT TOOLCRATE_ANDROID_NDK_CHECK_ONLY)
    include("$ENV{ANDROID_NDK}/build/cmake/android.toolchain.cmake")
endif()
