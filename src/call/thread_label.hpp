// The calling thread's name and id, as fault diagnostics show them, on each platform.
#pragma once

#include <cstdint>

namespace zelk::call {

struct ThreadLabel {
    char name[32] = "?";   // "?" where the platform keeps no name
    std::uint64_t id = 0;  // the system's thread id
};

ThreadLabel current_thread_label() noexcept;

}  // namespace zelk::call
