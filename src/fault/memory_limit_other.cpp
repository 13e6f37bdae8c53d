// Memory limits on systems without a reader of their own: none are known, so only allocation failures stop a request.
#if !defined(__linux__) && !defined(__APPLE__) && !defined(_WIN32)

#include "fault/memory_limit.hpp"

namespace zelk {

MemoryLimitSources read_memory_limit_sources() noexcept
{
    return {};
}

}  // namespace zelk

#endif
