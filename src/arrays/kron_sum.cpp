// kron_sum(terms, row_begin, row_end, index_width): sum_i kron(T_i, S_i) for the time rows [row_begin, row_end),
// and kron_sum_counts: its entry counts per row inside and outside a column block, without writing it.
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
#include "arrays/raw_array.hpp"
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

// The terms of a call, their buffers held until it ends.
struct HeldTerms {
    HeldFactors held;
    std::vector<KronTerm> terms;

    explicit HeldTerms(PyObject* object)
    {
        const PyRef sequence = checked(PySequence_Fast(object, "terms must be a sequence"));
        const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
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
    }
};

sparse_matrix_tools::KronSumShape shape_of(const HeldTerms& held, std::uint64_t row_begin, std::uint64_t row_end)
{
    WithoutGil released;
    return sparse_matrix_tools::kron_sum_shape(held.terms, row_begin, row_end);
}

}  // namespace

PyObject* kron_sum(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the matrix of kron_sum(terms)", [&] {
        expect_arguments("kron_sum", nargs, 4);
        const HeldTerms held(args[0]);
        const std::uint64_t row_begin = u64_arg(args[1]);
        const std::uint64_t row_end = u64_arg(args[2]);
        const IndexWidth width = index_width_arg(args[3]);
        const sparse_matrix_tools::KronSumShape shape = shape_of(held, row_begin, row_end);
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz, width);
        const std::uint64_t nnz =
            result.fill([&](const auto& rows) { return sparse_matrix_tools::fill_kron_sum(held.terms, shape, rows); });
        return std::move(result).to_python(nnz);
    });
}

PyObject* kron_sum_counts(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the counts of kron_sum(terms)", [&] {
        expect_arguments("kron_sum_counts", nargs, 5);
        const HeldTerms held(args[0]);
        const std::uint64_t row_begin = u64_arg(args[1]);
        const std::uint64_t row_end = u64_arg(args[2]);
        const std::uint64_t column_begin = u64_arg(args[3]);
        const std::uint64_t column_end = u64_arg(args[4]);
        const sparse_matrix_tools::KronSumShape shape = shape_of(held, row_begin, row_end);
        RawArray inside(shape.nrows, sizeof(std::int64_t));
        RawArray outside(shape.nrows, sizeof(std::int64_t));
        {
            WithoutGil released;
            sparse_matrix_tools::count_kron_sum(held.terms, shape, column_begin, column_end, inside.as<std::int64_t>(),
                                                outside.as<std::int64_t>());
        }
        PyRef d = std::move(inside).to_python();
        PyRef o = std::move(outside).to_python();
        return checked(Py_BuildValue("(NNKKK)", d.release(), o.release(), static_cast<unsigned long long>(shape.nrows),
                                     static_cast<unsigned long long>(shape.ncols),
                                     static_cast<unsigned long long>(shape.max_nnz)));
    });
}

const char kron_sum_doc[] =
    "kron_sum(terms, row_begin, row_end, index_width, /)\n--\n\nCSR arrays and shape of sum_i kron(T_i, S_i).";

const char kron_sum_counts_doc[] =
    "kron_sum_counts(terms, row_begin, row_end, column_begin, column_end, /)\n--\n\n"
    "Entries of each row of sum_i kron(T_i, S_i) inside and outside the columns, and the shape and bound.";

}  // namespace zelk::arrays
