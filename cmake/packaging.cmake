# Installation and release archives.
#
#   cmake --install build/release --prefix /usr/local --strip    (DESTDIR is honoured)
#   cpack --config build/release/CPackConfig.cmake -B build/release   (one .tar.gz)
#
# An archive holds the tools of cmake/tools.txt under bin/ and their manual
# pages under share/man/man1, which toolcrate_add_tool() installs (see
# cmake/tools.cmake), and README.md and LICENSE under share/doc/toolcrate.
# Included before the tools are added, so that their install rules strip
# with the strip chosen here.

# clang brings llvm-strip, and llvm-strip 14 refuses the static executables
# that GNU ld links with -static ("Link field value ... in section .rela.plt
# is not a symbol table"), while `cmake --install --strip` ignores its
# failure and installs the program unstripped. It handles the -static-pie
# ones, but a toolchain without static PIE falls back to -static; binutils'
# strip handles both.
if(CMAKE_STRIP MATCHES "llvm-strip" AND NOT ANDROID AND NOT CMAKE_CROSSCOMPILING)
    find_program(TOOLCRATE_BINUTILS_STRIP NAMES strip)
    if(TOOLCRATE_BINUTILS_STRIP)
        set(CMAKE_STRIP "${TOOLCRATE_BINUTILS_STRIP}" CACHE FILEPATH "Strip for installed programs" FORCE)
    endif()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME toolcrate)
set(CPACK_PACKAGE_VENDOR "the Toolcrate developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${toolcrate_tools_summary}, statically linked")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# The archive name carries the target's system and processor, so the
# archives of different architectures never share a name:
# toolcrate-1.03-Linux-x86_64.tar.gz, toolcrate-1.03-Linux-aarch64.tar.gz,
# toolcrate-1.03-Android-aarch64.tar.gz.
set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
# Shipped programs carry no debugging symbols; the cross builds strip with
# the target's own strip, which CMake finds beside the compiler.
set(CPACK_STRIP_FILES ON)
include(CPack)
