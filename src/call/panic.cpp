// PanicException: creation once per process, fault diagnostics on stderr, raising.
#include "call/panic.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "call/once_cell.hpp"
#include "call/thread_exit.hpp"
#include "call/thread_label.hpp"

namespace zelk::call {
namespace {

OnceCell panic_type;

constexpr const char* panic_doc =
    "Raised when the native code of the module hits an internal fault.\n\n"
    "Like SystemExit it derives from BaseException, not Exception, so it\n"
    "typically propagates through the whole stack and may end the interpreter.";

[[noreturn]] void abort_with(const char* message) noexcept
{
    std::fprintf(stderr, "zelk: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

// Source paths are reported from src/ on, whatever the build directory
// (and with either separator, as Windows compilers write them).
const char* short_path(const char* path) noexcept
{
    const char* best = path;
    for (const char* p = std::strstr(path, "src"); p != nullptr; p = std::strstr(p + 1, "src")) {
        if (p[3] == '/' || p[3] == '\\') best = p;
    }
    return best;
}

void write_diagnostic(std::string_view message, const std::source_location& where) noexcept
{
    static std::atomic<bool> hinted{false};
    const ThreadLabel thread = current_thread_label();
    std::fprintf(stderr, "zelk: internal fault in thread '%s' (%llu) at %s:%u: %.*s\n", thread.name,
                 static_cast<unsigned long long>(thread.id), short_path(where.file_name()),
                 static_cast<unsigned>(where.line()), static_cast<int>(message.size()), message.data());
    if (!hinted.exchange(true)) {
        std::fputs(
            "zelk: note: the fault is raised as PanicException; for a native backtrace run the "
            "program under gdb with 'catch throw'\n",
            stderr);
    }
    std::fflush(stderr);
}

}  // namespace

PyObject* panic_exception_type()
{
    if (PyObject* type = panic_type.get()) return type;
    try {
        return panic_type.get_or_init([] {
            PyObject* type =
                PyErr_NewExceptionWithDoc("zelk_native.PanicException", panic_doc, PyExc_BaseException, nullptr);
            if (type == nullptr) abort_with("Failed to initialize new exception type.");
            return type;
        });
    }
#if defined(ZELK_FORCED_UNWIND)
    catch (ZELK_FORCED_UNWIND&) {
        throw;
    }
#endif
    catch (...) {
        if (foreign_exception_caught()) throw;
        abort_with("Failed to initialize new exception type.");
    }
}

void raise_fault(std::string_view message, const std::source_location& where)
{
    if (message.empty()) message = "internal fault in native code (no message)";
    write_diagnostic(message, where);
    PyObject* type = panic_exception_type();
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (text == nullptr) abort_with("a second fault happened while reporting an internal fault; aborting");
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

void report_callback_panic()
{
    std::fputs(
        "zelk: Python code called back by the native module raised PanicException;\n"
        "zelk: it is printed below and raised again as a new PanicException.\n",
        stderr);
    std::fflush(stderr);
    PyErr_PrintEx(0);
}

}  // namespace zelk::call
