#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run the way a crash does, so that libFuzzer keeps
// the input that caused it as a reproducer.
#define QX_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: broken invariant: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
