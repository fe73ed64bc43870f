// A check that holds in every build of a harness: a broken property aborts, which libFuzzer
// reports as a crash with the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                             \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);  \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)
