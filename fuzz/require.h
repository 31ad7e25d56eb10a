#pragma once

#include <cstdio>
#include <cstdlib>

// A rule every input must keep: names the broken rule, then aborts, so the
// fuzzer records the input as a crash.
#define require(ok)                                                                                                    \
    do {                                                                                                               \
        if (!(ok)) {                                                                                                   \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #ok);                                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)
