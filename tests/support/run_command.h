#pragma once
// What a command writes on its standard output (and what it sends there).
#include <cstdio>
#include <string>

inline std::string RunCommand(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}
