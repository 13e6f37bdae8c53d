// kron_sum(terms, row_begin, row_end, index_width): sum_i kron(T_i, S_i) for the time rows [row_begin, row_end).
// Each term is (T data, T indices, T indptr, T nrows, T ncols, S data, S indices, S indptr, S nrows, S ncols),
// with int64 indices; the package's Python side has made the factors canonical.
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/index_input.hpp"
#include "sparse_matrix_tools/kron_sum.hpp"

namespace zelk::arrays {
using sparse_matrix_tools::CsrFactor;
using sparse_matrix_tools::KronTerm;

namespace {

// The buffers of the factors, held until the call ends.
struct HeldFactors {
    std::vector<std::unique_ptr<FloatInput>> values;
    std::vector<std::unique_ptr<IndexInput>> indices;

    CsrFactor factor(PyObject* const* item)
    {
        values.push_back(std::make_unique<FloatInput>(item[0], "data"));
        indices.push_back(std::make_unique<IndexInput>(item[1], "indices"));
        indices.push_back(std::make_unique<IndexInput>(item[2], "indptr"));
        CsrFactor f;
        f.values = values.back()->values();
        f.indices = indices[indices.size() - 2]->values();
        f.offsets = indices.back()->values();
        f.nrows = u64_arg(item[3]);
        f.ncols = u64_arg(item[4]);
        return f;
    }
};

}  // namespace

PyObject* kron_sum(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the matrix of kron_sum(terms)", [&] {
        expect_arguments("kron_sum", nargs, 4);
        const PyRef sequence = checked(PySequence_Fast(args[0], "terms must be a sequence"));
        const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
        HeldFactors held;
        std::vector<KronTerm> terms;
        terms.reserve(static_cast<std::size_t>(count));
        for (Py_ssize_t t = 0; t < count; ++t) {
            PyObject* item = PySequence_Fast_GET_ITEM(sequence.get(), t);
            if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 10)
                raise(PyExc_TypeError, "each term must be a tuple of ten CSR parts");
            PyObject* const* parts = &PyTuple_GET_ITEM(item, 0);
            KronTerm term;
            term.time = held.factor(parts);
            term.space = held.factor(parts + 5);
            terms.push_back(term);
        }
        const std::uint64_t row_begin = u64_arg(args[1]);
        const std::uint64_t row_end = u64_arg(args[2]);
        const IndexWidth width = index_width_arg(args[3]);
        const sparse_matrix_tools::KronSumShape shape = [&] {
            WithoutGil released;
            return sparse_matrix_tools::kron_sum_shape(terms, row_begin, row_end);
        }();
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz, width);
        const std::uint64_t nnz =
            result.fill([&](const auto& rows) { return sparse_matrix_tools::fill_kron_sum(terms, shape, rows); });
        return std::move(result).to_python(nnz);
    });
}

const char kron_sum_doc[] =
    "kron_sum(terms, row_begin, row_end, index_width, /)\n--\n\nCSR arrays and shape of sum_i kron(T_i, S_i).";

}  // namespace zelk::arrays
