# Compiler and linker settings, written once; the presets only choose among
# them with these options:
#
#   TOOLCRATE_WERROR  warnings are errors (the presets that test)
#   TOOLCRATE_STATIC  link the tools statically
#
# Also defines toolcrate_executable(), which links a tool.
option(TOOLCRATE_WERROR "Treat compiler warnings as errors" OFF)
option(TOOLCRATE_STATIC "Link kerfsum and tagwhit statically" ON)

# Every source of the tree is built with these, tests and benchmarks too.
add_compile_options(-Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wformat=2)
if(TOOLCRATE_WERROR)
    add_compile_options(-Werror)
endif()

# Builds one of the tools from its sources, statically unless switched off;
# the caller links its library. Every routine of the shared module goes into
# every tool, including those a tool does not call yet: common is an object
# library, whose objects are all linked, where an archive would give only
# the ones called.
function(toolcrate_executable name)
    add_executable(${name} ${ARGN})
    # The tools land at the top of the build tree: build/<preset>/kerfsum.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    target_link_libraries(${name} PRIVATE common)
    if(TOOLCRATE_STATIC)
        target_link_options(${name} PRIVATE -static)
    endif()
endfunction()
