// PanicException and the reporting of internal faults: the stderr diagnostic, then the raised exception.
#pragma once

#include <Python.h>

#include <source_location>
#include <string_view>

namespace zelk::call {

// The PanicException type, made on first need and kept for the process.
// The process is aborted if it cannot be made: faults could not be reported.
PyObject* panic_exception_type();

// Writes the diagnostic of an internal fault to stderr and sets PanicException
// with `message` as the current exception. Aborts if that itself fails.
void raise_fault(std::string_view message, const std::source_location& where);

// Writes the notice that Python code called back by the module raised
// PanicException, and prints that exception (which must be pending).
void report_callback_panic();

}  // namespace zelk::call
