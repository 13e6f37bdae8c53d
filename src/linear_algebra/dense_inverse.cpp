// try_invert: the choice between the cofactor and the LU inverse.
#include "linear_algebra/dense_inverse.hpp"

#include "fault/fault.hpp"

namespace zelk::linear_algebra {

std::optional<DenseMatrix> try_invert(const DenseMatrix& a)
{
    check_equal(a.ncols(), a.nrows(), "try_invert: matrix is not square");
    if (a.nrows() == 4) return do_inverse4(a);
    // Every other size, small ones included, goes through one working copy.
    DenseMatrix work = a;
    return try_invert_to(work);
}

}  // namespace zelk::linear_algebra
