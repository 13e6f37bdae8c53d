// The widest vector instruction set the hot loops may use, chosen once per process from what the CPU offers.
#pragma once

#include <array>
#include <string_view>

namespace zelk {

// IEEE addition, subtraction, multiplication, division and square root round
// alike at every width, so a loop compiled for any level gives the same bits,
// provided no multiply-add is fused: the clones below enable no FMA, and the
// build keeps -ffp-contract=off, so none is ever emitted.
enum class VectorLevel { baseline, avx2, avx512 };

inline constexpr std::array<VectorLevel, 3> vector_levels{VectorLevel::baseline, VectorLevel::avx2,
                                                          VectorLevel::avx512};

// "sse2" (the x86 baseline; "baseline" elsewhere, the only level there), "avx2", "avx512".
std::string_view vector_level_name(VectorLevel level) noexcept;

// Whether this CPU (and its operating system) runs code of `level`.
bool vector_level_supported(VectorLevel level) noexcept;

// The level every dispatched loop uses: the best supported one, or the one
// named by the environment variable ZELK_DISPATCH if this CPU supports it.
// The variable exists so that the exact-bit tests can run on every level;
// it is read once, at the first call.
VectorLevel active_vector_level() noexcept;

}  // namespace zelk

// Attributes that compile one function for a level. GCC and Clang on x86
// only; elsewhere only the baseline exists and the clones are never built.
// Not on Windows, where GCC spills wide registers with aligned moves to a
// stack it cannot realign.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define ZELK_VECTOR_CLONES 1
#define ZELK_TARGET_AVX2 __attribute__((target("avx2")))
#if defined(__clang__)
// Clang's generic tuning uses the full width already; it has no width option here.
#define ZELK_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512dq,avx512vl,avx512bw")))
#else
#define ZELK_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512dq,avx512vl,avx512bw,prefer-vector-width=512")))
#endif
#else
#define ZELK_VECTOR_CLONES 0
#endif

namespace zelk {

// The clones of a kernel: one function body, compiled once per level. A
// kernel marked ZELK_KERNEL is inlined into each, so that its loops are
// vectorised for that level.
#if defined(__GNUC__) || defined(__clang__)
#define ZELK_KERNEL [[gnu::always_inline]] inline
#else
#define ZELK_KERNEL inline
#endif

template <auto Kernel, class... Args>
void kernel_baseline(Args... args)
{
    Kernel(args...);
}

#if ZELK_VECTOR_CLONES
template <auto Kernel, class... Args>
ZELK_TARGET_AVX2 void kernel_avx2(Args... args)
{
    Kernel(args...);
}

template <auto Kernel, class... Args>
ZELK_TARGET_AVX512 void kernel_avx512(Args... args)
{
    Kernel(args...);
}
#endif

// Runs Kernel(args...) in the clone of the active level.
template <auto Kernel, class... Args>
void run_vectorized(Args... args)
{
#if ZELK_VECTOR_CLONES
    switch (active_vector_level()) {
        case VectorLevel::avx512: return kernel_avx512<Kernel>(args...);
        case VectorLevel::avx2: return kernel_avx2<Kernel>(args...);
        case VectorLevel::baseline: break;
    }
#endif
    kernel_baseline<Kernel>(args...);
}

}  // namespace zelk
