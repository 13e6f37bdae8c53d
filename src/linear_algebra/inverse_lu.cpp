// try_invert_to: LU factorisation with partial pivoting in place, then the two triangular solves against I.
#include <cmath>
#include <cstdint>
#include <utility>

#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/dense_inverse.hpp"

namespace zelk::linear_algebra {

namespace {

void swap_rows(DenseMatrix& m, std::uint64_t r1, std::uint64_t r2) noexcept
{
    for (std::uint64_t c = 0; c < m.ncols(); ++c) std::swap(m(r1, c), m(r2, c));
}

void check_factor_shapes(const DenseMatrix& lu, const DenseMatrix& b)
{
    check_equal(lu.ncols(), lu.nrows(), "triangular solve: factor is not square");
    check_equal(b.nrows(), lu.nrows(), "triangular solve: right-hand side row count");
}

}  // namespace

std::optional<DenseMatrix> try_invert_to(DenseMatrix& w)
{
    check_equal(w.ncols(), w.nrows(), "try_invert_to: matrix is not square");
    const std::uint64_t n = w.nrows();
    DenseMatrix b = DenseMatrix::identity(n);

    InterruptCountdown countdown;  // within a column too: its O(n^2) work is long for a large degree
    for (std::uint64_t i = 0; i < n; ++i) {
        poll_interrupt();
        // Largest magnitude; a later row must be strictly larger, so ties go
        // to the upper row (and a NaN never displaces the current choice).
        std::uint64_t p = i;
        double largest = std::fabs(w(i, i));
        for (std::uint64_t k = i + 1; k < n; ++k) {
            const double m = std::fabs(w(k, i));
            if (m > largest) {
                largest = m;
                p = k;
            }
        }
        if (w(p, i) == 0.0) return std::nullopt;
        if (p != i) {
            swap_rows(w, i, p);  // the stored multipliers move with their row
            swap_rows(b, i, p);
        }
        const double inv = 1.0 / w(i, i);
        for (std::uint64_t k = i + 1; k < n; ++k) w(k, i) = inv * w(k, i);
        for (std::uint64_t c = i + 1; c < n; ++c) {
            for (std::uint64_t k = i + 1; k < n; ++k) w(k, c) = w(k, c) - w(k, i) * w(i, c);
            countdown.tick(n - i);
        }
    }

    solve_lower_triangular_with_diag_mut(w, b, 1.0);
    solve_upper_triangular_mut(w, b);
    return b;
}

void solve_lower_triangular_with_diag_mut(const DenseMatrix& lu, DenseMatrix& b, double diag)
{
    check_factor_shapes(lu, b);
    const std::uint64_t n = lu.nrows();
    InterruptCountdown countdown;
    for (std::uint64_t c = 0; c < b.ncols(); ++c) {
        poll_interrupt();
        for (std::uint64_t i = 0; i < n; ++i) {
            b(i, c) = b(i, c) / diag;  // exact for diag = 1.0
            for (std::uint64_t k = i + 1; k < n; ++k) b(k, c) = b(k, c) - b(i, c) * lu(k, i);
            countdown.tick(n - i);
        }
    }
}

void solve_upper_triangular_mut(const DenseMatrix& lu, DenseMatrix& b)
{
    check_factor_shapes(lu, b);
    const std::uint64_t n = lu.nrows();
    InterruptCountdown countdown;
    for (std::uint64_t c = 0; c < b.ncols(); ++c) {
        poll_interrupt();
        for (std::uint64_t i = n; i-- > 0;) {
            b(i, c) = b(i, c) / lu(i, i);
            for (std::uint64_t k = 0; k < i; ++k) b(k, c) = b(k, c) - b(i, c) * lu(k, i);
            countdown.tick(i + 1);
        }
    }
}

}  // namespace zelk::linear_algebra
