# Compiler and linker settings, written once; the presets only choose among
# them with these options:
#
#   TOOLCRATE_WERROR  warnings are errors (the presets that test)
#   TOOLCRATE_HARDEN  build as distributions build their packages: stack
#                     protector, fortified C library calls, relocations
#                     read-only after start-up and, when static, a static
#                     PIE, so that the load address is random. Off in the
#                     sanitizer and fuzz builds, whose runtimes check memory
#                     themselves (fortified calls would hide accesses from
#                     them).
#   TOOLCRATE_STATIC  link the tools statically
#
# Android builds (the android preset with the NDK, android-sysroot without
# one) build the same way as each other: static, hardened with bionic's
# fortify level 2, and linked plain static, not as a static PIE, which
# bionic's static start-up cannot relocate; without exceptions and RTTI,
# so that no C++ runtime library is needed; with 16 KiB segment alignment,
# which devices with 16 KiB pages need.
#
# Also defines toolcrate_executable(), which links a tool, and
# toolcrate_link_like_the_tools(), for programs that must start as they do.
option(TOOLCRATE_WERROR "Treat compiler warnings as errors" OFF)
option(TOOLCRATE_HARDEN "Stack protector, _FORTIFY_SOURCE, RELRO and static PIE" ON)
option(TOOLCRATE_STATIC "Link kerfsum and tagwhit statically" ON)

# Every source of the tree is built with these, tests and benchmarks too.
add_compile_options(-Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wformat=2)
if(TOOLCRATE_WERROR)
    add_compile_options(-Werror)
endif()

set(toolcrate_harden ${TOOLCRATE_HARDEN})
# glibc's highest level; bionic knows 2.
set(toolcrate_fortify_level 3)
if(ANDROID)
    set(toolcrate_fortify_level 2)
    add_compile_options(-fno-exceptions -fno-rtti)
endif()

if(toolcrate_harden)
    add_compile_options(-fstack-protector-strong)
    # Fortified calls need the optimiser's object sizes: at -O0 glibc
    # fortifies nothing and warns, so the Debug builds go without. The
    # level is undefined first in case the compiler sets one itself.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=${toolcrate_fortify_level}>)
endif()

# How the tools link: toolcrate_link_kind is static-pie, static-relro (at
# a fixed address, RELRO: Android), static or dynamic
# (cmake/release_checks.cmake checks the executables against it).
set(toolcrate_link_options)
set(toolcrate_link_kind dynamic)
if(TOOLCRATE_STATIC)
    set(toolcrate_link_options -static)
    set(toolcrate_link_kind static)
    if(toolcrate_harden AND ANDROID)
        set(toolcrate_link_kind static-relro)
    elseif(toolcrate_harden)
        # A static PIE needs the C library's self-relocating start-up file
        # (glibc's rcrt1.o) and a C++ library built position-independent;
        # linking a small C++ program finds out.
        include(CheckCXXSourceCompiles)
        set(CMAKE_REQUIRED_FLAGS -fPIE)
        set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
        check_cxx_source_compiles([[
            #include <cstdio>
            #include <string>
            int main(int argc, char** argv) {
                std::string name(argv[0]);
                return std::puts(name.c_str()) < 0 || argc < 1;
            }]] TOOLCRATE_HAVE_STATIC_PIE)
        unset(CMAKE_REQUIRED_FLAGS)
        unset(CMAKE_REQUIRED_LINK_OPTIONS)
        if(TOOLCRATE_HAVE_STATIC_PIE)
            add_compile_options(-fPIE)
            set(toolcrate_link_options -static-pie)
            set(toolcrate_link_kind static-pie)
            message(STATUS "Static executables: position-independent (-static-pie)")
        else()
            message(STATUS "Static executables: linked -static, at a fixed address: this toolchain cannot link -static-pie (is the C library's rcrt1.o missing?)")
        endif()
    endif()
endif()
if(toolcrate_harden)
    list(APPEND toolcrate_link_options -Wl,-z,relro,-z,now)
endif()
if(ANDROID)
    list(APPEND toolcrate_link_options -Wl,-z,max-page-size=16384)
endif()

# Links a program as the tools are linked, so that it starts as they do.
function(toolcrate_link_like_the_tools target)
    target_link_options(${target} PRIVATE ${toolcrate_link_options})
endfunction()

# Builds one of the tools from its sources; the caller links its library.
# Every routine of the shared module goes into every tool, including those
# a tool does not call yet: common is an object library, whose objects are
# all linked, where an archive would give only the ones called.
function(toolcrate_executable name)
    add_executable(${name} ${ARGN})
    # The tools land at the top of the build tree: build/<preset>/kerfsum.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    target_link_libraries(${name} PRIVATE common)
    toolcrate_link_like_the_tools(${name})
endfunction()
