// The constructor arguments shared by both Legendre classes: (degree, n_t, T) into a LegendreBasis record.
#pragma once

#include <Python.h>

#include <string_view>

#include "call/convert.hpp"
#include "call/pyref.hpp"
#include "call/signature.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk {

// Binds and converts `degree`, `n_t`, `T` of a class constructor, in this order.
inline piecewise_polynomials::LegendreBasis legendre_basis_arguments(std::string_view class_name, PyObject* args,
                                                                     PyObject* kwargs)
{
    const call::Signature<3> sig{"__new__", class_name, {"degree", "n_t", "T"}};
    const auto slots = call::bind(sig, args, kwargs);
    // Held while later arguments convert: their Python code could drop the originals from the dict.
    const call::PyRef held[] = {call::PyRef::borrow(slots[0]), call::PyRef::borrow(slots[1]),
                                call::PyRef::borrow(slots[2])};
    return {call::to_u64(held[0].get(), "degree"), call::to_u64(held[1].get(), "n_t"),
            call::to_double(held[2].get(), "T")};
}

}  // namespace zelk
