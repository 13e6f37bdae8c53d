// The installed interrupt check.
#include "fault/interrupt.hpp"

#include <atomic>

namespace zelk {
namespace {

std::atomic<InterruptCheck> installed{nullptr};

}  // namespace

void set_interrupt_check(InterruptCheck check) noexcept
{
    installed.store(check, std::memory_order_release);
}

void poll_interrupt()
{
    if (InterruptCheck check = installed.load(std::memory_order_acquire)) check();
}

}  // namespace zelk
