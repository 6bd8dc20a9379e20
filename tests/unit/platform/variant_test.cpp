// The neutral VARIANT: a default one is all zero bytes, as a Get into it requires, whatever the
// compiler makes of the union's initialiser (clang once zeroed only its first member).

#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "platform/com_calls.hpp"

namespace {

TEST(Variant, DefaultIsAllZeroEvenOverDirtyMemory) {
    alignas(platform::Variant) unsigned char storage[sizeof(platform::Variant)];
    std::memset(storage, 0xAB, sizeof storage);
    const auto* value = new (storage) platform::Variant{};

    const unsigned char zero[sizeof(platform::Variant)] = {};
    EXPECT_EQ(std::memcmp(value, zero, sizeof zero), 0);
}

}  // namespace
