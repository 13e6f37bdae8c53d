// The three argument conversions and the rule that names the parameter in a TypeError.
#include "call/convert.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "call/once_cell.hpp"
#include "call/python_error.hpp"
#include "fault/interrupt.hpp"

namespace zelk::call {
namespace {

OnceCell sequence_abc;

// A conversion that failed with exactly TypeError is raised again as
// "argument '<param>': <text>", keeping the original's cause; any other
// exception passes unchanged.
[[noreturn]] void rethrow_for_param(PythonError& error, std::string_view param)
{
    PyObject* original = error.exception();
    if (Py_TYPE(original) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) throw;

    std::string text = "argument '";
    text.append(param).append("': ");
    PyObject* shown = PyObject_Str(original);
    Py_ssize_t size = 0;
    const char* utf8 = shown != nullptr ? PyUnicode_AsUTF8AndSize(shown, &size) : nullptr;
    if (utf8 != nullptr) {
        text.append(utf8, static_cast<std::size_t>(size));
    } else {
        PyErr_WriteUnraisable(original);
        text.append("<unprintable TypeError object>");
    }
    Py_XDECREF(shown);

    PyRef replacement = checked(PyObject_CallOneArg(
        PyExc_TypeError,
        checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))).get()));
    PyException_SetCause(replacement.get(), PyException_GetCause(original));
    throw PythonError(std::move(replacement));
}

template <class Convert>
auto converting(std::string_view param, Convert&& convert)
{
    try {
        return convert();
    } catch (PythonError& error) {
        rethrow_for_param(error, param);
    }
}

std::uint64_t long_to_u64(PyObject* integer)
{
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
    if (value == std::numeric_limits<unsigned long long>::max() && PyErr_Occurred()) throw_fetched_error();
    return value;
}

double item_to_double(PyObject* item)
{
    if (PyFloat_CheckExact(item)) return PyFloat_AS_DOUBLE(item);
    const double value = PyFloat_AsDouble(item);
    if (value == -1.0 && PyErr_Occurred()) throw_fetched_error();
    return value;
}

[[noreturn]] void not_a_sequence(PyObject* object)
{
    PyObject* abc = sequence_abc.get_or_init([] {
        PyRef module = checked(PyImport_ImportModule("collections.abc"));
        return checked(PyObject_GetAttrString(module.get(), "Sequence")).release();
    });
    PyRef qualname = checked(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(abc)));
    Py_ssize_t size = 0;
    const char* target = PyUnicode_AsUTF8AndSize(qualname.get(), &size);
    if (target == nullptr) throw_fetched_error();
    throw_type_mismatch(object, std::string_view(target, static_cast<std::size_t>(size)));
}

constexpr auto piece = static_cast<Py_ssize_t>(interrupt_stride);

// Reads list items by index against the list's current length, as the list
// iterator does, so an item's __float__ that shrinks the list cannot make us
// read past its end. Each item is held while it converts. Signals are polled
// between pieces of the list.
template <class Out>
void append_list(PyObject* list, Out& out)
{
    Py_ssize_t i = 0;
    while (i < PyList_GET_SIZE(list)) {
        if (i > 0) poll_interrupt();
        Py_ssize_t stop = std::min(i + piece, PyList_GET_SIZE(list));
        for (; i < stop; ++i) {
#if defined(Py_GIL_DISABLED)
            // Without the interpreter lock another thread may replace items
            // meanwhile: each one is read as a reference of our own.
            PyRef held = PyRef::steal(PyList_GetItemRef(list, i));
            if (!held) {  // the list shrank under us
                PyErr_Clear();
                return;
            }
            out.push_back(item_to_double(held.get()));
            stop = std::min(stop, PyList_GET_SIZE(list));
#else
            PyObject* item = PyList_GET_ITEM(list, i);
            if (PyFloat_CheckExact(item)) {
                out.push_back(PyFloat_AS_DOUBLE(item));
            } else {
                PyRef held = PyRef::borrow(item);
                out.push_back(item_to_double(held.get()));
                stop = std::min(stop, PyList_GET_SIZE(list));  // its Python code may have shrunk the list
            }
#endif
        }
    }
}

template <class Out>
void append_tuple(PyObject* tuple, Out& out)
{
    for_each_piece(0, static_cast<std::uint64_t>(PyTuple_GET_SIZE(tuple)),
                   [&](std::uint64_t first, std::uint64_t last) {
        for (std::uint64_t i = first; i < last; ++i)
            out.push_back(item_to_double(PyTuple_GET_ITEM(tuple, static_cast<Py_ssize_t>(i))));
    });
}

template <class Out>
void append_iterated(PyObject* object, Out& out)
{
    PyRef iterator = checked(PyObject_GetIter(object));
    InterruptCountdown countdown;
    while (PyObject* next = PyIter_Next(iterator.get())) {
        PyRef item = PyRef::steal(next);
        out.push_back(item_to_double(item.get()));
        countdown.tick();
    }
    if (PyErr_Occurred()) throw_fetched_error();
}

// A length hint from __len__ may lie; reserving more than this up front is
// left to growth, so a huge hint cannot fail a small sequence.
constexpr Py_ssize_t max_hint_reservation = Py_ssize_t{1} << 20;

// Fills `out`, which has reserve and push_back like a vector.
template <class Out>
void fill_floats(PyObject* object, Out& out)
{
    if (PyUnicode_Check(object)) throw_error(PyExc_TypeError, "Can't convert a str into a vector of floats");
    if (!PySequence_Check(object)) not_a_sequence(object);

    if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
        out.reserve(static_cast<std::size_t>(Py_SIZE(object)));
        if (PyTuple_CheckExact(object)) {
            append_tuple(object, out);
        } else {
            append_list(object, out);
        }
        return;
    }
    Py_ssize_t hint = PyObject_Size(object);
    if (hint < 0) {
        // Only an ordinary error means "no length": an interrupt, SystemExit or
        // a PanicException from __len__ ends the call, as anywhere else.
        if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) throw_fetched_error();
        PyErr_Clear();
        hint = 0;
    }
    out.reserve(static_cast<std::size_t>(std::min(hint, max_hint_reservation)));
    append_iterated(object, out);
}

}  // namespace

std::uint64_t to_u64(PyObject* object, std::string_view param)
{
    return converting(param, [object] {
        if (PyLong_Check(object)) return long_to_u64(object);
        PyRef index = checked(PyNumber_Index(object));
        return long_to_u64(index.get());
    });
}

double to_double_slow(PyObject* object, std::string_view param)
{
    return converting(param, [object] { return item_to_double(object); });
}

std::vector<double> to_float_vector(PyObject* object, std::string_view param)
{
    return converting(param, [object] {
        std::vector<double> out;
        fill_floats(object, out);
        return out;
    });
}

void to_short_floats(PyObject* object, std::string_view param, ShortFloats& out)
{
    converting(param, [object, &out] { fill_floats(object, out); });
}

}  // namespace zelk::call
