#pragma once
// A property that must hold for every input: on failure, say which and abort, so libFuzzer
// keeps the input as a crash artifact.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__,       \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)
