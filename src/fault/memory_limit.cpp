// The machine's memory limit (RAM plus swap), read once.
#include <sys/sysinfo.h>

#include <limits>

#include "fault/checked_size.hpp"

namespace zelk {

std::uint64_t memory_limit() noexcept
{
    static const std::uint64_t limit = [] {
        struct sysinfo info {};
        if (sysinfo(&info) != 0) return std::numeric_limits<std::uint64_t>::max();
        const unsigned __int128 bytes =
            (static_cast<unsigned __int128>(info.totalram) + info.totalswap) * info.mem_unit;
        return bytes > std::numeric_limits<std::uint64_t>::max() ? std::numeric_limits<std::uint64_t>::max()
                                                                  : static_cast<std::uint64_t>(bytes);
    }();
    return limit;
}

}  // namespace zelk
