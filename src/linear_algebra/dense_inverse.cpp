// try_invert: the choice between the cofactor and the LU inverse.
#include "linear_algebra/dense_inverse.hpp"

#include <utility>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::linear_algebra {

std::optional<DenseMatrix> try_invert(const DenseMatrix& a)
{
    check_equal(a.ncols(), a.nrows(), "try_invert: matrix is not square");
    if (a.nrows() == 4) return do_inverse4(a);
    // Every other size, small ones included, goes through one working copy,
    // made a piece at a time: for a large degree it alone takes a while.
    const std::vector<double>& from = a.values();
    std::vector<double> copy = reserved_vector<double>(from.size());
    for_each_piece(0, from.size(), [&](std::size_t first, std::size_t last) {
        copy.insert(copy.end(), from.begin() + static_cast<std::ptrdiff_t>(first),
                    from.begin() + static_cast<std::ptrdiff_t>(last));
    });
    DenseMatrix work(a.nrows(), a.ncols(), std::move(copy));
    return try_invert_to(work);
}

}  // namespace zelk::linear_algebra
