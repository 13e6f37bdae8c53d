// Arguments, error translation, the GIL-free scope and the signal check of zelk_arrays.
#include "arrays/frame.hpp"

#include <chrono>
#include <string>
#include <utility>

#include "fault/checked_size.hpp"

namespace zelk::arrays {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto signal_check_interval = std::chrono::milliseconds(50);

thread_local WithoutGil* current_scope = nullptr;
thread_local Clock::time_point last_signal_check{};

}  // namespace

void raise(PyObject* type, std::string_view message)
{
    PyObject* text = PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
    if (text != nullptr) {
        PyErr_SetObject(type, text);
        Py_DECREF(text);
    }
    throw ErrorSet{};
}

PyRef checked(PyObject* new_ref)
{
    if (new_ref == nullptr) throw ErrorSet{};
    return PyRef::steal(new_ref);
}

void raise_current_exception() noexcept
{
    try {
        throw;
    } catch (const ErrorSet&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    } catch (const Fault& fault) {
        PyObject* type = fault.message() == capacity_overflow ? PyExc_OverflowError : PyExc_ValueError;
        PyErr_SetString(type, fault.message().c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception in zelk_arrays");
    }
}

WithoutGil::WithoutGil() noexcept : state_(nullptr), outer_(current_scope)
{
    last_signal_check = Clock::now();
    current_scope = this;
    state_ = PyEval_SaveThread();
}

WithoutGil::~WithoutGil() noexcept(false)
{
    current_scope = outer_;
    // No state: the thread was ended while check_signals held the GIL, and must not take it again.
    if (state_ != nullptr) PyEval_RestoreThread(state_);
}

void check_signals()
{
    const Clock::time_point now = Clock::now();
    if (now - last_signal_check < signal_check_interval) return;
    last_signal_check = now;
    WithoutGil* scope = current_scope;
    if (scope == nullptr) {
        if (PyErr_CheckSignals() < 0) throw ErrorSet{};
        return;
    }
    PyEval_RestoreThread(std::exchange(scope->state_, nullptr));  // may end this thread at shutdown
    const int status = PyErr_CheckSignals();
    // The raised exception stays in this thread's state while the GIL is away again.
    scope->state_ = PyEval_SaveThread();
    if (status < 0) throw ErrorSet{};
}

void expect_arguments(const char* function, Py_ssize_t nargs, Py_ssize_t count)
{
    if (nargs != count)
        raise(PyExc_TypeError, std::string(function) + "() takes " + std::to_string(count) +
                                   " positional arguments but " + std::to_string(nargs) + " were given");
}

std::uint64_t u64_arg(PyObject* object)
{
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw ErrorSet{};
    return value;
}

double float_arg(PyObject* object)
{
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw ErrorSet{};
    return value;
}

}  // namespace zelk::arrays
