// Exact products of doubles by Dekker's splitting, for loops that multiply one double-double by many.
#pragma once

#include <cmath>

#include "time_operators/double_double.hpp"

namespace zelk::time_operators {

// A double cut into two halves of 26 significant bits at most, so that the
// product of two halves is exact in double arithmetic (no fused multiply-add,
// which is slow where the target has none).
struct SplitDouble {
    double value;
    double high;
    double low;

    explicit SplitDouble(double a) noexcept : value(a)
    {
        // Beyond 2^996 the factor 2^27 + 1 would overflow: split a scaled copy
        // (powers of two scale exactly) and scale its leading half back.
        const bool huge = std::fabs(a) > 0x1p996;
        const double scaled = huge ? a * 0x1p-28 : a;
        const double c = 134217729.0 * scaled;  // 2^27 + 1
        high = c - (c - scaled);
        if (huge) high = high * 0x1p28;
        low = a - high;
    }
};

// A double-double factor with its leading part split once.
struct SplitDoubleDouble {
    SplitDouble hi;
    double lo;

    explicit SplitDoubleDouble(DoubleDouble a) noexcept : hi(a.hi), lo(a.lo) {}
};

// a * b to double-double accuracy (about 2^-104 relative), exactly as
// Dekker's two-product and the cross terms give it, for factors of any size
// whose product does not overflow.
inline DoubleDouble split_product(const SplitDoubleDouble& a, const SplitDoubleDouble& b) noexcept
{
    const double p = a.hi.value * b.hi.value;
    const double error = ((a.hi.high * b.hi.high - p) + a.hi.high * b.hi.low + a.hi.low * b.hi.high) +
                         a.hi.low * b.hi.low;
    const double cross = a.hi.value * b.lo + a.lo * b.hi.value;
    const double s = p + (error + cross);
    return {s, (error + cross) - (s - p)};
}

}  // namespace zelk::time_operators
