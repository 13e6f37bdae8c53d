// Creation of the module's class objects, and the error for instances their constructor did not make.
#include "call/instance.hpp"

#include <string>

namespace zelk::call {

PyObject* create_class(PyType_Spec& definition, std::string_view name)
{
    try {
        return checked(PyType_FromSpec(&definition)).release();
    } catch (PythonError& error) {
        std::string message = "An error occurred while initializing class ";
        message.append(name);
        PyRef runtime_error = checked(PyObject_CallOneArg(
            PyExc_RuntimeError,
            checked(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()))).get()));
        PyException_SetCause(runtime_error.get(), error.take().release());
        throw PythonError(std::move(runtime_error));
    }
}

void not_constructed(std::string_view class_name)
{
    std::string message(class_name);
    message.append(" object was not initialized by its constructor ").append(class_name).append("(degree, n_t, T)");
    throw_error(PyExc_TypeError, message);
}

}  // namespace zelk::call
