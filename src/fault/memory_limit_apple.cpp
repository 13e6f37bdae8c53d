// Memory limits on macOS: RAM (hw.memsize) plus the current swap size, the pages free now, RLIMIT_AS and RLIMIT_DATA.
#if defined(__APPLE__)

#include <mach/mach.h>
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
    struct xsw_usage swap {};
    size = sizeof swap;
    if (::sysctlbyname("vm.swapusage", &swap, &size, nullptr, 0) == 0 &&
        swap.xsu_total <= std::numeric_limits<std::uint64_t>::max() - ram)
        ram += swap.xsu_total;
    return ram;
}

// Pages the kernel can hand out without paging anything in use (free,
// inactive, purgeable) plus the free part of the swap files.
std::optional<std::uint64_t> available_memory() noexcept
{
    vm_statistics64_data_t stats{};
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    const mach_port_t host = ::mach_host_self();
    vm_size_t page = 0;
    const bool read = ::host_statistics64(host, HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&stats), &count) ==
                          KERN_SUCCESS &&
                      ::host_page_size(host, &page) == KERN_SUCCESS;
    ::mach_port_deallocate(::mach_task_self(), host);
    if (!read) return std::nullopt;
    std::uint64_t bytes = (std::uint64_t{stats.free_count} + stats.inactive_count + stats.purgeable_count) * page;
    struct xsw_usage swap {};
    std::size_t size = sizeof swap;
    if (::sysctlbyname("vm.swapusage", &swap, &size, nullptr, 0) == 0 &&
        swap.xsu_avail <= std::numeric_limits<std::uint64_t>::max() - bytes)
        bytes += swap.xsu_avail;
    return bytes;
}

// The kernel's own virtual size includes the shared system region, so no
// usage is subtracted here: the limit still bounds any single request.
std::optional<std::uint64_t> rlimit_value(int resource) noexcept
{
    struct rlimit limit {};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

MemoryLimitSources read_memory_limit_sources() noexcept
{
    return {machine_memory(), rlimit_value(RLIMIT_AS), rlimit_value(RLIMIT_DATA), std::nullopt, available_memory()};
}

}  // namespace zelk

#endif
