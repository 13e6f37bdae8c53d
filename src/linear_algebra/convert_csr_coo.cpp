// CSR -> COO: every stored entry pushed in storage order.
#include "linear_algebra/sparse_conversions.hpp"

namespace zelk::linear_algebra {

CooMatrix convert_csr_coo(const CsrMatrix& csr)
{
    CooMatrix coo(csr.nrows(), csr.ncols());
    coo.reserve(csr.nnz());
    csr.for_each_entry([&coo](std::uint64_t r, std::uint64_t c, double v) { coo.push(r, c, v); });
    return coo;
}

}  // namespace zelk::linear_algebra
