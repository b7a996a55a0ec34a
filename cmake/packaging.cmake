# Installation and release archives.
#
#   cmake --install build/release --prefix /usr/local --strip    (DESTDIR is honoured)
#   cpack --config build/release/CPackConfig.cmake -B build/release   (one .tar.gz)
#
# An archive holds the tools of cmake/tools.txt under bin/ and their manual
# pages under share/man/man1, which toolcrate_add_tool() installs (see
# cmake/tools.cmake), and README.md and LICENSE under share/doc/toolcrate,
# with the notices of the libraries linked in, for Android.
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

# An Android program carries, statically linked, bionic (BSD-style licences,
# whose notices must go with it) and LLVM's compiler-rt builtins
# (Apache-2.0 WITH LLVM-exception): both notices go beside the licence.
# compiler-rt's text is put together from Debian's copy of the Apache
# licence (base-files) and the LLVM exception as clang-16's copyright file
# gives it.
if(ANDROID)
    set(TOOLCRATE_BIONIC_NOTICE "${CMAKE_SYSROOT}/NOTICE-bionic" CACHE FILEPATH "bionic's licence notices, shipped with the Android programs")
    set(toolcrate_apache /usr/share/common-licenses/Apache-2.0)
    set(toolcrate_llvm_copyright /usr/share/doc/clang-16/copyright)
    if(EXISTS "${TOOLCRATE_BIONIC_NOTICE}")
        install(FILES "${TOOLCRATE_BIONIC_NOTICE}" DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME NOTICE-bionic)
    else()
        message(WARNING "no bionic notices at ${TOOLCRATE_BIONIC_NOTICE} (TOOLCRATE_BIONIC_NOTICE): the release archive lacks them")
    endif()
    file(READ ${toolcrate_llvm_copyright} toolcrate_text)
    if(EXISTS ${toolcrate_apache} AND toolcrate_text MATCHES "\n ---- LLVM Exceptions to the Apache 2.0 License ----((\n [^\n]*)+)\n\n")
        # The copyright file's form: each line indented by one space, and
        # " ." for an empty line.
        string(REGEX REPLACE "\n [.]?" "\n" toolcrate_exception "${CMAKE_MATCH_1}")
        file(READ ${toolcrate_apache} toolcrate_text)
        file(WRITE ${CMAKE_BINARY_DIR}/LICENSE-compiler-rt
            "LLVM's compiler-rt builtins, linked into these programs, are under the Apache License v2.0\n"
            "with LLVM Exceptions (SPDX: Apache-2.0 WITH LLVM-exception):\n\n"
            "${toolcrate_text}\n---- LLVM Exceptions to the Apache 2.0 License ----${toolcrate_exception}\n")
        install(FILES ${CMAKE_BINARY_DIR}/LICENSE-compiler-rt DESTINATION ${CMAKE_INSTALL_DOCDIR})
    else()
        message(WARNING "no ${toolcrate_apache} or no LLVM exception in ${toolcrate_llvm_copyright} (Debian packages base-files, clang-16): the release archive lacks compiler-rt's licence")
    endif()
endif()

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
