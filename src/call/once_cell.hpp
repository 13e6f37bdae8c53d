// OnceCell: a once-per-process Python object, filled under the interpreter without deadlocking other threads.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "fault/fault.hpp"

namespace zelk::call {

// Holds one strong reference for the life of the process. A thread that finds
// another thread filling the cell releases the interpreter while it waits, so
// that the filler (which may itself need the interpreter) can finish.
class OnceCell {
public:
    PyObject* get() const noexcept { return value_.load(std::memory_order_acquire); }

    // Returns the stored object, or runs `make` (which returns a new reference
    // or throws) to fill the cell. On a throw the cell stays empty.
    template <class Make>
    PyObject* get_or_init(Make&& make)
    {
        if (PyObject* value = get()) return value;
        if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id())
            fail("once-per-process object requested again while it is being made");
        // Locked before the interpreter is taken back: if the interpreter ends
        // this thread there instead, unwinding unlocks it.
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) {
            PyThreadState* state = PyEval_SaveThread();
            lock.lock();
            PyEval_RestoreThread(state);
        }
        if (PyObject* value = get()) return value;
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        struct ClearOwner {
            std::atomic<std::thread::id>& owner;
            ~ClearOwner() { owner.store(std::thread::id(), std::memory_order_relaxed); }
        } clear_owner{owner_};
        PyObject* value = make();
        value_.store(value, std::memory_order_release);
        return value;
    }

private:
    std::atomic<PyObject*> value_{nullptr};
    std::atomic<std::thread::id> owner_{};
    std::mutex mutex_;
};

}  // namespace zelk::call
