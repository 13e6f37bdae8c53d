// Conversions between the coordinate and the compressed sparse row forms.
#pragma once

#include "linear_algebra/coo_matrix.hpp"
#include "linear_algebra/csr_matrix.hpp"

namespace zelk::linear_algebra {

// The compressed form of `coo`, same shape: entries sorted by column within
// each row, repeated positions summed in insertion order (for rows of up to 20
// entries; longer rows sum repeats in an unspecified order), explicit zeros
// and zero sums kept. Linear in the entries plus each row's sort.
CsrMatrix convert_coo_csr(const CooMatrix& coo);

// As above, but consumes `coo` and releases each of its arrays as soon as it
// has been read, so that the coordinate and compressed copies overlap less.
CsrMatrix convert_coo_csr(CooMatrix&& coo);

// A coordinate matrix of the same shape with one entry per stored entry, in storage order.
CooMatrix convert_csr_coo(const CsrMatrix& csr);

}  // namespace zelk::linear_algebra
