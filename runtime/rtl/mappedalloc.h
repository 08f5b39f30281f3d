#pragma once
// An allocator for the large arrays of a big result (a million products and
// their tree): from a megabyte up, memory comes straight from the system and
// goes back to it the moment it is freed (the C library would keep it for
// later, so the process would stay as large as its largest list), in huge
// pages where the system offers them (touching a fresh page costs more than
// anything done with the row that fills it).
#include <cstddef>
#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace mapped {

constexpr std::size_t kThreshold = std::size_t(1) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kPage = 4096;

inline std::size_t Rounded(std::size_t bytes, std::size_t to) { return (bytes + to - 1) / to * to; }

// `bytes` from the system, on a huge-page boundary; raises std::bad_alloc.
inline void *Map(std::size_t bytes)
{
    const std::size_t length = Rounded(bytes, kPage);
    // Room to start on a huge-page boundary; what lies either side goes back.
    char *raw = static_cast<char *>(
        mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    char *start = reinterpret_cast<char *>(Rounded(reinterpret_cast<std::uintptr_t>(raw), kHugePage));
    if (start > raw)
        munmap(raw, static_cast<std::size_t>(start - raw));
    if (char *end = raw + length + kHugePage; end > start + length)
        munmap(start + length, static_cast<std::size_t>(end - (start + length)));
    madvise(start, length, MADV_HUGEPAGE);  // advice only: without it pages are small
    return start;
}

inline void Unmap(void *p, std::size_t bytes) { munmap(p, Rounded(bytes, kPage)); }

inline void *Allocate(std::size_t bytes)
{
    return bytes >= kThreshold ? Map(bytes) : ::operator new(bytes);
}

inline void Free(void *p, std::size_t bytes)
{
    if (!p)
        return;
    if (bytes >= kThreshold)
        Unmap(p, bytes);
    else
        ::operator delete(p);
}

// For containers: std::vector<T, mapped::Allocator<T>>.
template <class T>
struct Allocator {
    using value_type = T;
    Allocator() = default;
    template <class U>
    Allocator(const Allocator<U> &) noexcept
    {
    }
    T *allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T *>(Allocate(n * sizeof(T)));
    }
    void deallocate(T *p, std::size_t n) noexcept { Free(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const Allocator<U> &) const noexcept
    {
        return true;
    }
};

} // namespace mapped
