// Threads that the interpreter ends mid-call: their unwinding must pass our catch-alls untouched.
#pragma once

#include <version>  // defines the macros that name the standard library

#include <exception>

// At shutdown the interpreter ends a daemon thread that waits for the
// interpreter lock with pthread_exit, which unwinds the C++ stack with a
// forced-unwind exception. A handler that swallows it aborts the process, and
// the thread no longer has an interpreter state, so nothing on that path may
// call the interpreter. libstdc++ names the exception; libc++abi treats it as
// a foreign exception, which has no C++ type and which it cannot rethrow once
// a handler caught it, so the guards catch only C++ types there. Elsewhere it
// does not exist.
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define ZELK_FORCED_UNWIND abi::__forced_unwind
#elif defined(_LIBCPP_VERSION) && defined(__linux__) && __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define ZELK_FOREIGN_UNWIND_CHECK 1
#endif

namespace zelk::call {

// In a catch (...) block: true when the caught exception is not a C++
// exception (a forced unwind under libc++abi), which must be rethrown.
inline bool foreign_exception_caught() noexcept
{
#if defined(ZELK_FOREIGN_UNWIND_CHECK)
    return abi::__cxa_current_exception_type() == nullptr;
#else
    return false;
#endif
}

// Runs body and returns its result; on any exception, returns on_error(),
// which runs inside the catch block and may rethrow to inspect what is in
// flight. The unwinding of an ended thread passes through untouched. Own is
// the caller's exception type that derives from no standard one: under
// libc++abi, which cannot rethrow a forced unwind once a handler has caught
// it, only Own and std::exception are caught, so the unwind passes as
// through a cleanup.
template <class Own, class Body, class OnError>
auto catch_all_but_thread_exit(Body&& body, OnError&& on_error) -> decltype(body())
{
    try {
        return body();
    }
#if defined(ZELK_FORCED_UNWIND)
    catch (ZELK_FORCED_UNWIND&) {
        throw;
    }
#endif
#if defined(ZELK_FOREIGN_UNWIND_CHECK)
    catch (Own&) {
        return on_error();
    } catch (std::exception&) {
        return on_error();
    }
#else
    catch (...) {
        return on_error();
    }
#endif
}

}  // namespace zelk::call
