// The banner of the test programs. Every program that links the shared
// module defines the `tool_banner` it prints (see common.hpp); common_test
// checks that print_banner() prints this one.
#include "common.hpp"

const banner_text tool_banner = {"test - Test title", "Test rights notice"};
