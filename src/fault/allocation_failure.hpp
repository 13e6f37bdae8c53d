// std::bad_alloc that remembers how many bytes the failed request asked for, so the message can say it.
#pragma once

#include <cstdint>
#include <new>

namespace zelk {

class AllocationFailure : public std::bad_alloc {
public:
    // `bytes` requested; `beyond_64_bits` when the request did not even fit 64 bits.
    explicit AllocationFailure(std::uint64_t bytes, bool beyond_64_bits = false) noexcept
        : bytes_(bytes), beyond_64_bits_(beyond_64_bits)
    {
    }

    std::uint64_t bytes() const noexcept { return bytes_; }
    bool beyond_64_bits() const noexcept { return beyond_64_bits_; }
    const char* what() const noexcept override { return "allocation failed"; }

private:
    std::uint64_t bytes_;
    bool beyond_64_bits_;
};

}  // namespace zelk
