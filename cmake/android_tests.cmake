# The tests of an Android build. The test programs only start the tools and
# read what they leave behind, so they are host programs (GoogleTest and the
# host's C++ runtime, which bionic's libc.a cannot link): a build of its own
# under host-tests/, made by the host's compiler, builds the end-to-end test
# programs of tests/ (see tests/CMakeLists.txt), which run this build's
# Android tools under the emulator. CTest runs them from this build's tree,
# beside this build's own checks of the executables (release_checks.cmake).

# Prints bionic's strerror texts, which the tests expect of the tools.
add_executable(error_texts tests/e2e/error_texts.cpp)
set_target_properties(error_texts PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
toolcrate_link_like_the_tools(error_texts)

include(ExternalProject)
set(toolcrate_host_tests ${CMAKE_BINARY_DIR}/host-tests)
ExternalProject_Add(host_tests
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${toolcrate_host_tests}
    PREFIX ${CMAKE_BINARY_DIR}/host-tests-steps
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_CACHE_ARGS
        # Unoptimised: they wait on the tools, and compile a third faster.
        -DCMAKE_BUILD_TYPE:STRING=Debug
        -DTOOLCRATE_TESTS:STRING=ON
        -DTOOLCRATE_WERROR:BOOL=${TOOLCRATE_WERROR}
        # The host build links no tools: no static-PIE probe.
        -DTOOLCRATE_STATIC:BOOL=OFF
        -DTOOLCRATE_ANDROID_TOOLS:PATH=${CMAKE_BINARY_DIR}
        -DTOOLCRATE_ANDROID_EMULATOR:FILEPATH=${CMAKE_CROSSCOMPILING_EMULATOR}
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${toolcrate_host_tests} --target e2e_tests
    BUILD_ALWAYS TRUE
    INSTALL_COMMAND ""
    DEPENDS ${toolcrate_tools} error_texts
    USES_TERMINAL_CONFIGURE TRUE
    USES_TERMINAL_BUILD TRUE)

# CTest reads the host build's tests as if they were this directory's.
file(WRITE ${CMAKE_BINARY_DIR}/host-tests.cmake "subdirs(\"${toolcrate_host_tests}\")\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/host-tests.cmake)
