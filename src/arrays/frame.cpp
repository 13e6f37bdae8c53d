// Arguments, error translation, the GIL-free scope and the signal check of zelk_arrays.
#include "arrays/frame.hpp"

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

#include "fault/checked_size.hpp"

namespace zelk::arrays {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto signal_check_interval = std::chrono::milliseconds(50);

thread_local WithoutGil* current_scope = nullptr;
thread_local Clock::time_point last_signal_check{};

// "7.45 GiB (8000000000 bytes)", numpy's binary units with three digits.
std::string byte_size(std::uint64_t bytes)
{
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3g %s (%llu bytes)", value, units[unit],
                  static_cast<unsigned long long>(bytes));
    return text;
}

std::string memory_message(const std::bad_alloc& error, std::string_view result)
{
    const auto* failure = dynamic_cast<const AllocationFailure*>(&error);
    std::string text = "Unable to allocate ";
    if (failure == nullptr)
        text += "working memory";
    else if (failure->beyond_64_bits())
        text += "more than 16 EiB";
    else
        text += byte_size(failure->bytes());
    return text.append(" for ").append(result);
}

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

void raise_current_exception(std::string_view result) noexcept
{
    try {
        try {
            throw;
        } catch (const ErrorSet&) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
        } catch (const ValueOverflow& overflow) {
            PyErr_SetString(PyExc_OverflowError, overflow.message().c_str());
        } catch (const Fault& fault) {
            if (fault.message() == capacity_overflow) {
                const std::string text = std::string(capacity_overflow) + ": " + std::string(result) +
                                         " does not fit the address space";
                PyErr_SetString(PyExc_OverflowError, text.c_str());
            } else {
                PyErr_SetString(PyExc_ValueError, fault.message().c_str());
            }
        } catch (const std::bad_alloc& error) {
            PyErr_SetString(PyExc_MemoryError, memory_message(error, result).c_str());
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();  // no room left even for the message
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

bool flag_arg(PyObject* object)
{
    const int value = PyObject_IsTrue(object);
    if (value < 0) throw ErrorSet{};
    return value != 0;
}

double float_arg(PyObject* object)
{
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw ErrorSet{};
    return value;
}

}  // namespace zelk::arrays
