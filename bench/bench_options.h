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

// Whether a comma-separated list names `name`; an empty list names everything.
inline bool BenchListed(const std::string &list, const std::string &name)
{
    if (list.empty())
        return true;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        if (list.compare(start, comma - start, name) == 0)
            return true;
        start = comma + 1;
    }
    return false;
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
