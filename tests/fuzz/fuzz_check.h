#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property is a crash, so libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (false)
