// Choosing the vector level: the CPU's features, once, and the test-only override.
#include "vector_units/vector_level.hpp"

#include <cstdint>
#include <cstdlib>

#if ZELK_VECTOR_CLONES
#include <cpuid.h>
#endif

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
        case VectorLevel::avx2: return "avx2";
        case VectorLevel::avx512: return "avx512";
        case VectorLevel::baseline: break;
    }
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
    return "sse2";
#else
    return "baseline";
#endif
}

#if ZELK_VECTOR_CLONES
namespace {

// Read from cpuid and xgetbv directly: __builtin_cpu_supports needs the
// runtime's __cpu_model, which not every toolchain links into a shared
// module position-independently.
struct CpuFeatures {
    bool avx2 = false;
    bool avx512 = false;
};

std::uint64_t saved_register_state() noexcept
{
    std::uint32_t eax = 0;
    std::uint32_t edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (std::uint64_t{edx} << 32) | eax;
}

CpuFeatures read_cpu_features() noexcept
{
    CpuFeatures features;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
    const bool osxsave = (ecx >> 27) & 1u;
    const bool avx = (ecx >> 28) & 1u;
    if (!osxsave || !avx) return features;
    // The system must save the registers a level uses: XMM and YMM for AVX2,
    // also the opmasks and the upper ZMM halves and registers for AVX-512.
    const std::uint64_t state = saved_register_state();
    const bool ymm_saved = (state & 0x6u) == 0x6u;
    const bool zmm_saved = (state & 0xe6u) == 0xe6u;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return features;
    const bool avx2 = (ebx >> 5) & 1u;
    const bool avx512f = (ebx >> 16) & 1u;
    const bool avx512dq = (ebx >> 17) & 1u;
    const bool avx512bw = (ebx >> 30) & 1u;
    const bool avx512vl = (ebx >> 31) & 1u;
    features.avx2 = ymm_saved && avx2;
    features.avx512 = features.avx2 && zmm_saved && avx512f && avx512dq && avx512bw && avx512vl;
    return features;
}

}  // namespace
#endif

bool vector_level_supported(VectorLevel level) noexcept
{
    if (level == VectorLevel::baseline) return true;
#if ZELK_VECTOR_CLONES
    static const CpuFeatures features = read_cpu_features();
    return level == VectorLevel::avx2 ? features.avx2 : features.avx512;
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
