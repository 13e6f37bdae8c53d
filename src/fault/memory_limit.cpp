// The smallest memory limit, cached briefly so that a burst of size checks reads the sources once.
#include "fault/memory_limit.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>

namespace zelk {
namespace {

// Long enough to serve all the checks of one call, short enough that the
// usage it subtracts is current for the next.
constexpr std::chrono::steady_clock::duration validity = std::chrono::milliseconds(5);

std::uint64_t smallest(const MemoryLimitSources& s) noexcept
{
    std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    for (const auto& source : {s.machine, s.address_space, s.data, s.group, s.available}) {
        if (source) limit = std::min(limit, *source);
    }
    return limit;
}

// Two independent atomics: a reader that sees a new stamp with an old value
// just uses a limit a few milliseconds older, which is harmless.
std::atomic<std::uint64_t> cached_limit{0};
std::atomic<std::chrono::steady_clock::rep> cached_at{std::numeric_limits<std::chrono::steady_clock::rep>::min()};

}  // namespace

std::uint64_t memory_limit() noexcept
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto at = std::chrono::steady_clock::duration(cached_at.load(std::memory_order_acquire));
    if (at <= now && now < at + validity) return cached_limit.load(std::memory_order_relaxed);
    const std::uint64_t limit = smallest(read_memory_limit_sources());
    cached_limit.store(limit, std::memory_order_relaxed);
    cached_at.store(now.count(), std::memory_order_release);
    return limit;
}

}  // namespace zelk
