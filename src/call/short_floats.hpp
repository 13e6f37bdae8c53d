// ShortFloats: floats converted from a Python sequence, kept on the stack while they are few.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace zelk::call {

// Up to `inline_capacity` values live in the object itself, so converting a
// short coefficient list costs no heap allocation; longer ones move to a vector.
class ShortFloats {
public:
    static constexpr std::size_t inline_capacity = 32;

    ShortFloats() noexcept {}  // the inline array stays uninitialised until filled
    ShortFloats(const ShortFloats&) = delete;
    ShortFloats& operator=(const ShortFloats&) = delete;

    void reserve(std::size_t n)
    {
        if (n > inline_capacity) spill(n);
    }

    void push_back(double value)
    {
        if (!on_heap_) {
            if (size_ < inline_capacity) {
                inline_[size_++] = value;
                return;
            }
            spill(2 * inline_capacity);
        }
        heap_.push_back(value);
    }

    std::span<const double> values() const noexcept
    {
        if (on_heap_) return heap_;
        return std::span<const double>(inline_.data(), size_);
    }

private:
    void spill(std::size_t capacity)
    {
        if (on_heap_) {
            heap_.reserve(capacity);
            return;
        }
        heap_.reserve(capacity);
        heap_.assign(inline_.begin(), inline_.begin() + static_cast<std::ptrdiff_t>(size_));
        on_heap_ = true;
    }

    std::array<double, inline_capacity> inline_;
    std::size_t size_ = 0;
    bool on_heap_ = false;
    std::vector<double> heap_;
};

}  // namespace zelk::call
