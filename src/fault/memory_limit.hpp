// How much memory the process may still obtain: the smallest of the machine's and the process's limits.
#pragma once

#include <cstdint>
#include <optional>

namespace zelk {

// One reading of each limit the platform offers, in bytes still available to
// this process. A source that is unreadable or unlimited stays empty.
struct MemoryLimitSources {
    std::optional<std::uint64_t> machine;        // RAM plus swap (Windows: the commit limit)
    std::optional<std::uint64_t> address_space;  // RLIMIT_AS minus the address space in use
    std::optional<std::uint64_t> data;           // RLIMIT_DATA minus the data segment in use
    std::optional<std::uint64_t> group;          // cgroup memory limit (Windows: job object) minus its usage
    // What the machine can hand out now, with what other processes hold
    // subtracted: Linux MemAvailable plus free swap (Windows: the commit still
    // available; none on macOS, which adds swap on demand).
    std::optional<std::uint64_t> available;
};

#if defined(__linux__)
// MemAvailable plus SwapFree of a /proc/meminfo text, in bytes; empty
// without MemAvailable (kernels before 3.14).
std::optional<std::uint64_t> available_from_meminfo(const char* text) noexcept;
#endif

// Implemented once per platform (memory_limit_<platform>.cpp); every call reads afresh.
MemoryLimitSources read_memory_limit_sources() noexcept;

// The smallest of the sources, from a reading at most a few milliseconds old
// (limits rarely change, usage does); UINT64_MAX when none is known.
std::uint64_t memory_limit() noexcept;

// a - b, or 0 where b exceeds a: what is left of a limit after a usage.
constexpr std::uint64_t headroom(std::uint64_t limit, std::uint64_t used) noexcept
{
    return used < limit ? limit - used : 0;
}

}  // namespace zelk
