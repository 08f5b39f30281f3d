#pragma once
// A bench's "--name value" options; a bench takes few and checks none.
#include <string>

inline std::string BenchOption(int argc, char **argv, const std::string &name, const std::string &fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (argv[i] == name)
            return argv[i + 1];
    return fallback;
}
