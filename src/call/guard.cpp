// Translation of the exception in flight into the interpreter's current exception.
#include "call/guard.hpp"

namespace zelk::call {

void raise_current_exception()
{
    try {
        throw;
    } catch (PythonError& error) {
        set_raised_exception(error.take());
    } catch (const Fault& fault) {
        raise_fault(fault.message(), fault.where());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_fault(error.what(), std::source_location::current());
    } catch (...) {
        raise_fault("unknown C++ exception in native code", std::source_location::current());
    }
}

}  // namespace zelk::call
