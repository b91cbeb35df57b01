#pragma once
// Shared by the fuzz targets: a property that must hold for every input.
// A broken property aborts, so the fuzzer keeps the input as a crash case
// and the replay test fails on it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
