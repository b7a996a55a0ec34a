# The tools of the family, as cmake/tools.txt lists them, and the one
# function that adds a tool. Sets, in the list's order:
#
#   toolcrate_tools            the programs' names (kerfsum tagwhit)
#   toolcrate_tool_directories the directories of their sources (sfv id3)
#   toolcrate_tool_libraries   their libraries, DIRECTORY_core, which the
#                              tests link
#   toolcrate_manual_pages     their manual pages, man/NAME.1
#   toolcrate_tools_summary    "kerfsum (SFV listings) and tagwhit (ID3v1
#                              tags)", for the release archive
#
# CMakeLists.txt then adds each directory, whose CMakeLists.txt calls
# toolcrate_add_tool() for its tool.
include(GNUInstallDirs)

set(toolcrate_tools)
set(toolcrate_tool_directories)
set(toolcrate_tool_libraries)
set(toolcrate_manual_pages)
set(toolcrate_tools_summary)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/tools.txt toolcrate_tool_lines REGEX "^[^#]")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tools.txt)
list(LENGTH toolcrate_tool_lines toolcrate_tool_count)
foreach(line IN LISTS toolcrate_tool_lines)
    if(NOT line MATCHES "^([a-z0-9_]+)[ \t]+([a-z0-9_]+)[ \t]+([^ \t].*)$")
        message(FATAL_ERROR "cmake/tools.txt: \"${line}\" is not NAME DIRECTORY DESCRIPTION")
    endif()
    # The program is built at the top of the build tree (build/ci/kerfsum),
    # where the directory's own build files go too (build/ci/sfv).
    if(CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
        message(FATAL_ERROR "cmake/tools.txt: the tool ${CMAKE_MATCH_1} needs a directory of another name, since both would be ${CMAKE_MATCH_1} in the build tree")
    endif()
    list(APPEND toolcrate_tools ${CMAKE_MATCH_1})
    list(APPEND toolcrate_tool_directories ${CMAKE_MATCH_2})
    list(APPEND toolcrate_tool_libraries ${CMAKE_MATCH_2}_core)
    list(APPEND toolcrate_manual_pages ${PROJECT_SOURCE_DIR}/man/${CMAKE_MATCH_1}.1)
    set(toolcrate_tool_directory_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
    # "a (x)", "a (x) and b (y)", "a (x), b (y) and c (z)".
    list(LENGTH toolcrate_tools toolcrate_tool_index)
    if(toolcrate_tool_index EQUAL 1)
        set(toolcrate_tools_summary "${CMAKE_MATCH_1} (${CMAKE_MATCH_3})")
    elseif(toolcrate_tool_index EQUAL toolcrate_tool_count)
        string(APPEND toolcrate_tools_summary " and ${CMAKE_MATCH_1} (${CMAKE_MATCH_3})")
    else()
        string(APPEND toolcrate_tools_summary ", ${CMAKE_MATCH_1} (${CMAKE_MATCH_3})")
    endif()
endforeach()

# Adds the tool NAME from the directory whose CMakeLists.txt calls it: the
# static library DIRECTORY_core of the LIBRARY sources, which the tests
# link; the executable NAME, built from the MAIN source and linked with that
# library, as toolcrate_executable() links a tool; and the install rules for
# the program and its manual page, man/NAME.1.
#
#   toolcrate_add_tool(NAME MAIN main.cpp LIBRARY source.cpp...)
function(toolcrate_add_tool name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "MAIN" "LIBRARY")
    get_filename_component(directory ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    if(NOT "${toolcrate_tool_directory_${name}}" STREQUAL directory)
        message(FATAL_ERROR "${directory}/CMakeLists.txt adds the tool ${name}, which cmake/tools.txt does not list with the directory ${directory}")
    endif()
    if(NOT arg_MAIN OR NOT arg_LIBRARY OR arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "usage: toolcrate_add_tool(NAME MAIN main.cpp LIBRARY source.cpp...)")
    endif()

    set(library ${directory}_core)
    add_library(${library} STATIC ${arg_LIBRARY})
    target_include_directories(${library} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    # common's headers, but not its objects: each program links common
    # itself, so that its objects go into the link once.
    target_include_directories(${library} PRIVATE $<TARGET_PROPERTY:common,INTERFACE_INCLUDE_DIRECTORIES>)
    target_link_libraries(${library} INTERFACE common)

    toolcrate_executable(${name} ${arg_MAIN})
    target_link_libraries(${name} PRIVATE ${library})

    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/man/${name}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
