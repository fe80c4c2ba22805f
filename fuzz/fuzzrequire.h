#pragma once

#include <cstdio>
#include <cstdlib>

// A broken promise is a finding: abort, so that libFuzzer keeps the input that led to it.
inline void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}
