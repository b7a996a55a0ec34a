# The android preset's toolchain file: checks that ANDROID_NDK names an
# Android NDK (see cmake/android_ndk_check.cmake, which CMakeLists.txt also
# runs before project()), then hands over to the NDK's own toolchain file.
include(${CMAKE_CURRENT_LIST_DIR}/android_ndk_check.cmake)
include("$ENV{ANDROID_NDK}/build/cmake/android.toolchain.cmake")
