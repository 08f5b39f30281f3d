#pragma once
// What a bench measures of its own process.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

// Processor time of the process: on a machine shared with other builds the
// clock mostly measures their work.
inline double BenchCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A memory line of /proc/self/status ("VmRSS:", "VmHWM:") in MB; 0 if absent.
inline double BenchMemoryMb(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atof(line.c_str() + std::strlen(field)) / 1024.0;
    return 0;
}
