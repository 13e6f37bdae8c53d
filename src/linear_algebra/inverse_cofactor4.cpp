// do_inverse4: the 4 x 4 inverse by cofactors, each written out in the operand order its last bit depends on.
#include "fault/fault.hpp"
#include "linear_algebra/dense_inverse.hpp"

namespace zelk::linear_algebra {

// cIJ is the cofactor of entry (I, J): six products (x * y) * z combined left
// to right. The first column comes first and gives the determinant; the other
// twelve are formed only for a non-singular matrix.
std::optional<DenseMatrix> do_inverse4(const DenseMatrix& a)
{
    check_equal(a.nrows(), 4, "do_inverse4: row count");
    check_equal(a.ncols(), 4, "do_inverse4: column count");

    // clang-format off: three products per line, so that each cofactor reads as its six terms
    const double c00 = (a(1, 1) * a(2, 2)) * a(3, 3) - (a(1, 1) * a(3, 2)) * a(2, 3)
                       - (a(1, 2) * a(2, 1)) * a(3, 3) + (a(1, 2) * a(3, 1)) * a(2, 3)
                       + (a(2, 1) * a(1, 3)) * a(3, 2) - (a(3, 1) * a(1, 3)) * a(2, 2);
    const double c10 = (a(3, 2) * a(0, 1)) * a(2, 3) - (a(2, 2) * a(0, 1)) * a(3, 3)
                       + (a(2, 1) * a(0, 2)) * a(3, 3) - (a(3, 1) * a(0, 2)) * a(2, 3)
                       - (a(2, 1) * a(0, 3)) * a(3, 2) + (a(3, 1) * a(0, 3)) * a(2, 2);
    const double c20 = (a(1, 2) * a(0, 1)) * a(3, 3) - (a(3, 2) * a(0, 1)) * a(1, 3)
                       - (a(1, 1) * a(0, 2)) * a(3, 3) + (a(3, 1) * a(0, 2)) * a(1, 3)
                       + (a(1, 1) * a(0, 3)) * a(3, 2) - (a(3, 1) * a(0, 3)) * a(1, 2);
    const double c30 = (a(2, 2) * a(0, 1)) * a(1, 3) - (a(1, 2) * a(0, 1)) * a(2, 3)
                       + (a(1, 1) * a(0, 2)) * a(2, 3) - (a(2, 1) * a(0, 2)) * a(1, 3)
                       - (a(1, 1) * a(0, 3)) * a(2, 2) + (a(2, 1) * a(0, 3)) * a(1, 2);

    // Expansion along the first column, summed left to right.
    const double det = ((a(0, 0) * c00 + a(1, 0) * c10) + a(2, 0) * c20) + a(3, 0) * c30;
    if (det == 0.0) return std::nullopt;

    const double c01 = (a(1, 0) * a(3, 2)) * a(2, 3) - (a(2, 2) * a(1, 0)) * a(3, 3)
                       + (a(1, 2) * a(2, 0)) * a(3, 3) - (a(3, 0) * a(1, 2)) * a(2, 3)
                       - (a(2, 0) * a(1, 3)) * a(3, 2) + (a(1, 3) * a(3, 0)) * a(2, 2);
    const double c02 = (a(2, 1) * a(1, 0)) * a(3, 3) - (a(3, 1) * a(1, 0)) * a(2, 3)
                       - (a(1, 1) * a(2, 0)) * a(3, 3) + (a(3, 0) * a(1, 1)) * a(2, 3)
                       + (a(2, 0) * a(1, 3)) * a(3, 1) - (a(1, 3) * a(3, 0)) * a(2, 1);
    const double c03 = (a(1, 0) * a(3, 1)) * a(2, 2) - (a(2, 1) * a(1, 0)) * a(3, 2)
                       + (a(1, 1) * a(2, 0)) * a(3, 2) - (a(3, 0) * a(1, 1)) * a(2, 2)
                       - (a(2, 0) * a(1, 2)) * a(3, 1) + (a(1, 2) * a(3, 0)) * a(2, 1);
    const double c11 = (a(0, 0) * a(2, 2)) * a(3, 3) - (a(0, 0) * a(3, 2)) * a(2, 3)
                       - (a(0, 2) * a(2, 0)) * a(3, 3) + (a(0, 2) * a(3, 0)) * a(2, 3)
                       + (a(2, 0) * a(0, 3)) * a(3, 2) - (a(3, 0) * a(0, 3)) * a(2, 2);
    const double c12 = (a(0, 0) * a(3, 1)) * a(2, 3) - (a(2, 1) * a(0, 0)) * a(3, 3)
                       + (a(0, 1) * a(2, 0)) * a(3, 3) - (a(0, 1) * a(3, 0)) * a(2, 3)
                       - (a(2, 0) * a(0, 3)) * a(3, 1) + (a(3, 0) * a(0, 3)) * a(2, 1);
    const double c13 = (a(0, 0) * a(2, 1)) * a(3, 2) - (a(0, 0) * a(3, 1)) * a(2, 2)
                       - (a(0, 1) * a(2, 0)) * a(3, 2) + (a(0, 1) * a(3, 0)) * a(2, 2)
                       + (a(2, 0) * a(0, 2)) * a(3, 1) - (a(3, 0) * a(0, 2)) * a(2, 1);
    const double c21 = (a(0, 0) * a(3, 2)) * a(1, 3) - (a(1, 2) * a(0, 0)) * a(3, 3)
                       + (a(0, 2) * a(1, 0)) * a(3, 3) - (a(0, 2) * a(3, 0)) * a(1, 3)
                       - (a(1, 0) * a(0, 3)) * a(3, 2) + (a(3, 0) * a(0, 3)) * a(1, 2);
    const double c22 = (a(0, 0) * a(1, 1)) * a(3, 3) - (a(0, 0) * a(3, 1)) * a(1, 3)
                       - (a(0, 1) * a(1, 0)) * a(3, 3) + (a(0, 1) * a(3, 0)) * a(1, 3)
                       + (a(1, 0) * a(0, 3)) * a(3, 1) - (a(3, 0) * a(0, 3)) * a(1, 1);
    const double c23 = (a(0, 0) * a(3, 1)) * a(1, 2) - (a(1, 1) * a(0, 0)) * a(3, 2)
                       + (a(0, 1) * a(1, 0)) * a(3, 2) - (a(0, 1) * a(3, 0)) * a(1, 2)
                       - (a(1, 0) * a(0, 2)) * a(3, 1) + (a(3, 0) * a(0, 2)) * a(1, 1);
    const double c31 = (a(0, 0) * a(1, 2)) * a(2, 3) - (a(0, 0) * a(2, 2)) * a(1, 3)
                       - (a(0, 2) * a(1, 0)) * a(2, 3) + (a(0, 2) * a(2, 0)) * a(1, 3)
                       + (a(1, 0) * a(0, 3)) * a(2, 2) - (a(2, 0) * a(0, 3)) * a(1, 2);
    const double c32 = (a(0, 0) * a(2, 1)) * a(1, 3) - (a(1, 1) * a(0, 0)) * a(2, 3)
                       + (a(0, 1) * a(1, 0)) * a(2, 3) - (a(0, 1) * a(2, 0)) * a(1, 3)
                       - (a(1, 0) * a(0, 3)) * a(2, 1) + (a(2, 0) * a(0, 3)) * a(1, 1);
    const double c33 = (a(0, 0) * a(1, 1)) * a(2, 2) - (a(0, 0) * a(2, 1)) * a(1, 2)
                       - (a(0, 1) * a(1, 0)) * a(2, 2) + (a(0, 1) * a(2, 0)) * a(1, 2)
                       + (a(1, 0) * a(0, 2)) * a(2, 1) - (a(2, 0) * a(0, 2)) * a(1, 1);
    // clang-format on

    // One reciprocal, multiplied into every entry of the adjugate (entry (i, j) is cJI).
    const double inv = 1.0 / det;
    DenseMatrix b(4, 4);
    b(0, 0) = c00 * inv;
    b(0, 1) = c10 * inv;
    b(0, 2) = c20 * inv;
    b(0, 3) = c30 * inv;
    b(1, 0) = c01 * inv;
    b(1, 1) = c11 * inv;
    b(1, 2) = c21 * inv;
    b(1, 3) = c31 * inv;
    b(2, 0) = c02 * inv;
    b(2, 1) = c12 * inv;
    b(2, 2) = c22 * inv;
    b(2, 3) = c32 * inv;
    b(3, 0) = c03 * inv;
    b(3, 1) = c13 * inv;
    b(3, 2) = c23 * inv;
    b(3, 3) = c33 * inv;
    return b;
}

}  // namespace zelk::linear_algebra
