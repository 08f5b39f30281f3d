#pragma once
// A property every input must keep: a broken one stops the fuzzer on the
// input that broke it.
#include <cstdlib>

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}
