#pragma once
// A bench's "--name value" options; a bench takes few and checks none.
#include <cstdio>
#include <cstring>
#include <string>

inline std::string BenchOption(int argc, char **argv, const std::string &name, const std::string &fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (argv[i] == name)
            return argv[i + 1];
    return fallback;
}

// True, after printing `usage`, when the command line asks for help; a bench
// then returns 0 without measuring.
inline bool BenchHelp(int argc, char **argv, const char *usage)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return true;
        }
    return false;
}
