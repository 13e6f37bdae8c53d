// Interruption of long-running core loops: the host installs a check that may throw to stop them.
#pragma once

#include <cstdint>
#include <vector>

namespace zelk {

// Called now and then from loops whose length follows from user input; it
// throws to end the operation. Each host (each extension module linking the
// core) installs its own: one that looks at pending signals while it holds the
// interpreter, or one that reads a flag while it runs without it.
using InterruptCheck = void (*)();

void set_interrupt_check(InterruptCheck check) noexcept;

// Runs the installed check, if any. Storage owned by the caller is released by
// its destructors when the check throws.
void poll_interrupt();

// Units of work between two polls. A unit is one cheap step (a push, a
// comparison, a recurrence step, an object made), some nanoseconds, so a poll
// comes well under a millisecond apart, and costs nothing noticeable.
inline constexpr std::uint64_t interrupt_stride = std::uint64_t{1} << 16;

// Counts work down and polls once per stride, so that the loop it serves
// pays one subtraction and one well-predicted branch per step.
class InterruptCountdown {
public:
    explicit InterruptCountdown(std::uint64_t stride = interrupt_stride) noexcept : stride_(stride), left_(stride) {}

    // Records `work` units, e.g. the length of the row just handled.
    void tick(std::uint64_t work = 1)
    {
        if (work < left_) [[likely]] {
            left_ -= work;
            return;
        }
        left_ = stride_;
        poll_interrupt();
    }

private:
    std::uint64_t stride_;
    std::uint64_t left_;
};

// Calls run(first, last) for consecutive pieces of [begin, end), each at most
// `stride` long, polling between pieces: the loop inside `run` stays exactly
// as it would be without polling, and short loops never poll at all.
template <class Run>
void for_each_piece(std::uint64_t begin, std::uint64_t end, Run&& run, std::uint64_t stride = interrupt_stride)
{
    while (begin < end && end - begin > stride) {
        run(begin, begin + stride);
        begin += stride;
        poll_interrupt();
    }
    if (begin < end) run(begin, end);
}

// Appends n copies of `value` to v, whose room is already reserved, a piece
// at a time: filling (and first touching) gigabytes takes a while.
template <class T>
void fill_interruptibly(std::vector<T>& v, std::uint64_t n, const T& value)
{
    for_each_piece(0, n, [&](std::uint64_t first, std::uint64_t last) { v.insert(v.end(), last - first, value); });
}

}  // namespace zelk
