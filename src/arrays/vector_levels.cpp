// vector_levels(): the vector level the core's loops run at, and every level this CPU supports.
#include <string_view>

#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::arrays {
namespace {

PyRef level_name(VectorLevel level)
{
    const std::string_view name = vector_level_name(level);
    return checked(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

}  // namespace

PyObject* vector_levels(PyObject*, PyObject* const*, Py_ssize_t nargs)
{
    return guarded("the list of vector levels", [&] {
        expect_arguments("vector_levels", nargs, 0);
        PyRef supported = checked(PyList_New(0));
        for (VectorLevel level : zelk::vector_levels) {
            if (vector_level_supported(level) && PyList_Append(supported.get(), level_name(level).get()) < 0)
                throw ErrorSet{};
        }
        PyRef active = level_name(active_vector_level());
        return checked(PyTuple_Pack(2, active.get(), supported.get()));
    });
}

const char vector_levels_doc[] =
    "vector_levels()\n--\n\n(active level, [supported levels]); ZELK_DISPATCH picks a supported one (tests).";

}  // namespace zelk::arrays
