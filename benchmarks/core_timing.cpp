// Latency of one core evaluation as the evaluator class makes it (table view + evaluate), for bench_legendre.py.
//
// Usage: zelk_core_timing DEGREE...   prints one JSON object per line:
//   {"degree": 3, "evaluate_ns": ..., "evaluate_derivative_ns": ...}
// Each call's t depends on the previous call's result, so calls cannot
// overlap; the cost of that dependency, timed alone, is subtracted. Many
// short batches: their minimum is one that no other process interrupted.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "linear_algebra/dense_matrix.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace {

using zelk::linear_algebra::DenseMatrixView;
using zelk::piecewise_polynomials::LegendreBasis;

constexpr std::uint64_t n_t = 16;
constexpr int calls = 2000;
constexpr int repeats = 1000;

// A zero the compiler cannot see through, so t + r * zero keeps r on the path.
double opaque_zero()
{
    double zero = 0.0;
    asm volatile("" : "+x"(zero));
    return zero;
}

template <class Step>
double best_ns_per_call(Step step)
{
    double best = 1e300;
    const double zero = opaque_zero();
    for (int r = 0; r < repeats; ++r) {
        double t = 0.3141;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) t = 0.3141 + step(t) * zero;
        const auto stop = std::chrono::steady_clock::now();
        asm volatile("" : : "x"(t));
        best = std::min(best, std::chrono::duration<double, std::nano>(stop - start).count() / calls);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const double chain = best_ns_per_call([](double t) { return t; });
    for (int a = 1; a < argc; ++a) {
        const std::uint64_t degree = std::strtoull(argv[a], nullptr, 10);
        const LegendreBasis basis(degree, n_t, 1.0);
        std::vector<double> dofs(n_t * (degree + 1));
        for (std::size_t i = 0; i < dofs.size(); ++i) dofs[i] = 1.0 / static_cast<double>(i + 1);
        const double value = best_ns_per_call([&](double t) {
            return basis.evaluate(t, DenseMatrixView::column_major(dofs, basis.n_t, basis.degree + 1));
        });
        const double derivative = best_ns_per_call([&](double t) {
            return basis.evaluate_derivative(t, DenseMatrixView::column_major(dofs, basis.n_t, basis.degree + 1));
        });
        std::printf("{\"degree\": %llu, \"evaluate_ns\": %.2f, \"evaluate_derivative_ns\": %.2f}\n",
                    static_cast<unsigned long long>(degree), value - chain, derivative - chain);
    }
    return 0;
}
