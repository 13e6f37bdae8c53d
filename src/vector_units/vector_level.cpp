// Choosing the vector level: the CPU's features, once, and the test-only override.
#include "vector_units/vector_level.hpp"

#include <cstdlib>

namespace zelk {
namespace {

VectorLevel choose() noexcept
{
    VectorLevel best = VectorLevel::baseline;
    for (VectorLevel level : vector_levels) {
        if (vector_level_supported(level)) best = level;
    }
    if (const char* forced = std::getenv("ZELK_DISPATCH")) {
        for (VectorLevel level : vector_levels) {
            if (vector_level_name(level) == forced && vector_level_supported(level)) return level;
        }
    }
    return best;
}

}  // namespace

std::string_view vector_level_name(VectorLevel level) noexcept
{
    switch (level) {
    case VectorLevel::avx2:
        return "avx2";
    case VectorLevel::avx512:
        return "avx512";
    case VectorLevel::baseline:
        break;
    }
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
    return "sse2";
#else
    return "baseline";
#endif
}

bool vector_level_supported(VectorLevel level) noexcept
{
    if (level == VectorLevel::baseline) return true;
#if ZELK_VECTOR_CLONES
    // __builtin_cpu_supports also checks that the system saves the wide registers.
    __builtin_cpu_init();
    if (level == VectorLevel::avx2) return __builtin_cpu_supports("avx2");
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512bw");
#else
    return false;
#endif
}

VectorLevel active_vector_level() noexcept
{
    static const VectorLevel level = choose();
    return level;
}

}  // namespace zelk
