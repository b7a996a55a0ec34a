# CTest checks of what ships: the programs are static executables for the
# target's machine (static PIEs where cmake/build_settings.cmake links them
# so, and Android's with RELRO at a fixed address), the install rules
# put programs and manual pages in place, and the manual pages lint clean.
# Uses the lists of cmake/tools.cmake.
#
# Sanitizer builds link their runtimes dynamically and are not shipped, so
# they get none of these.
string(FIND "${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}" "-fsanitize" toolcrate_sanitizer_flag)
if(NOT toolcrate_sanitizer_flag EQUAL -1)
    return()
endif()

set(toolcrate_program_files)
foreach(program IN LISTS toolcrate_tools)
    list(APPEND toolcrate_program_files $<TARGET_FILE:${program}>)
endforeach()

if(NOT toolcrate_link_kind STREQUAL "dynamic")
    # readelf reads the headers of any ELF file, so the host's serves the
    # cross builds too.
    if(CMAKE_READELF)
        set(toolcrate_readelf ${CMAKE_READELF})
    else()
        find_program(toolcrate_readelf readelf)
    endif()
    find_program(toolcrate_file_command file)
    foreach(tool IN ITEMS toolcrate_readelf toolcrate_file_command)
        if(NOT ${tool})
            set(${tool} "")
        endif()
    endforeach()
    # The emulator travels as one argument; the script splits it at ';'.
    string(REPLACE ";" "$<SEMICOLON>" toolcrate_emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
    # The machine as readelf names it.
    set(toolcrate_machine "")
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
        set(toolcrate_machine AArch64)
    elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
        set(toolcrate_machine X86-64)
    endif()
    add_test(NAME release.static_executables
        COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/check_static.sh
            "${toolcrate_readelf}" "${toolcrate_file_command}" "${toolcrate_emulator}"
            ${toolcrate_link_kind} "${toolcrate_machine}" ${toolcrate_program_files})
    # The script skips, naming the package, when readelf or file(1) is
    # missing, and says so when the programs are not static PIEs.
    set_tests_properties(release.static_executables PROPERTIES SKIP_RETURN_CODE 77)
endif()

add_test(NAME release.install_into_destdir
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/check_install.sh
        ${CMAKE_COMMAND} "${CMAKE_STRIP}" ${PROJECT_BINARY_DIR} ${CMAKE_INSTALL_PREFIX}
        ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_MANDIR}
        ${toolcrate_program_files} -- ${toolcrate_manual_pages})

add_test(NAME release.manual_pages_lint
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/check_manual_pages.sh ${toolcrate_manual_pages})
set_tests_properties(release.manual_pages_lint PROPERTIES SKIP_RETURN_CODE 77)
