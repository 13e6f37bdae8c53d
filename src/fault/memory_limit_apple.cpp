// Memory limits on macOS: RAM (hw.memsize) plus the current swap size, RLIMIT_AS and RLIMIT_DATA.
#if defined(__APPLE__)

#include <sys/resource.h>
#include <sys/sysctl.h>
#include <sys/types.h>

#include <limits>

#include "fault/memory_limit.hpp"

namespace zelk {
namespace {

std::optional<std::uint64_t> machine_memory() noexcept
{
    std::uint64_t ram = 0;
    std::size_t size = sizeof ram;
    if (::sysctlbyname("hw.memsize", &ram, &size, nullptr, 0) != 0) return std::nullopt;
    // Swap files grow on demand; their current total is what exists now.
    struct xsw_usage swap{};
    size = sizeof swap;
    if (::sysctlbyname("vm.swapusage", &swap, &size, nullptr, 0) == 0 &&
        swap.xsu_total <= std::numeric_limits<std::uint64_t>::max() - ram)
        ram += swap.xsu_total;
    return ram;
}

// The kernel's own virtual size includes the shared system region, so no
// usage is subtracted here: the limit still bounds any single request.
std::optional<std::uint64_t> rlimit_value(int resource) noexcept
{
    struct rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

MemoryLimitSources read_memory_limit_sources() noexcept
{
    // No figure of memory available now: macOS compresses memory and adds swap
    // files on demand, so what is free at the moment does not bound a request.
    return {machine_memory(), rlimit_value(RLIMIT_AS), rlimit_value(RLIMIT_DATA), std::nullopt, std::nullopt};
}

}  // namespace zelk

#endif
