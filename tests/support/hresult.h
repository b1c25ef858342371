// HRESULT checks that print both sides in hex, as 0x8004FA01 rather than a
// negative decimal.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace test_support {

inline std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

}  // namespace test_support

#define EXPECT_HR(expected, actual) \
    EXPECT_EQ(::test_support::Hex(expected), ::test_support::Hex(actual))
#define ASSERT_HR(expected, actual) \
    ASSERT_EQ(::test_support::Hex(expected), ::test_support::Hex(actual))
