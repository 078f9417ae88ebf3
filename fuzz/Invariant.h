// How a fuzz target reports a broken invariant: a message, then abort, which libFuzzer treats as a
// crash and keeps the input for.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Check(bool holds, const std::string& what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
        std::abort();
    }
}
