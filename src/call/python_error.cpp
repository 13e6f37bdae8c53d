// Fetching the interpreter's pending exception, and making new error values.
#include "call/python_error.hpp"

#include <string>

#include "call/panic.hpp"
#include "fault/fault.hpp"

namespace zelk::call {

PyObject* take_raised_exception()
{
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(traceback);
    Py_DECREF(type);
    return value;
#endif
}

void set_raised_exception(PyRef exception)
{
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception.release());
#else
    PyObject* value = exception.release();
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(value))), value, PyException_GetTraceback(value));
#endif
}

void throw_fetched_error(std::source_location where)
{
    PyRef exception = PyRef::steal(take_raised_exception());
    if (!exception) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        exception = PyRef::steal(take_raised_exception());
        throw PythonError(std::move(exception));
    }
    if (reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) != panic_exception_type())
        throw PythonError(std::move(exception));

    // A PanicException from Python code we called back: report it and go on as
    // an internal fault of our own, with the same message.
    std::string message = "PanicException raised by a callback (its message could not be read)";
    if (PyRef text = PyRef::steal(PyObject_Str(exception.get()))) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) message.assign(utf8, size);
    }
    PyErr_Clear();
    set_raised_exception(std::move(exception));
    report_callback_panic();
    throw Fault(std::move(message), where);
}

void throw_error(PyObject* type, std::string_view message)
{
    PyObject* text = PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
    if (text != nullptr) {
        PyErr_SetObject(type, text);
        Py_DECREF(text);
    }
    throw_fetched_error();
}

void throw_type_mismatch(PyObject* object, std::string_view target)
{
    PyRef qualname = checked(PyType_GetQualName(Py_TYPE(object)));
    PyRef target_name = checked(PyUnicode_FromStringAndSize(target.data(), static_cast<Py_ssize_t>(target.size())));
    PyObject* message =
        PyUnicode_FromFormat("'%U' object cannot be converted to '%U'", qualname.get(), target_name.get());
    if (message != nullptr) {
        PyErr_SetObject(PyExc_TypeError, message);
        Py_DECREF(message);
    }
    throw_fetched_error();
}

}  // namespace zelk::call
