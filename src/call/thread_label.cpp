// Thread names and ids: pthreads with the system's own thread id, or the Win32 thread id.
#include "call/thread_label.hpp"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#endif

namespace zelk::call {

ThreadLabel current_thread_label() noexcept
{
    ThreadLabel label;
#if defined(_WIN32)
    label.id = ::GetCurrentThreadId();
#elif defined(__APPLE__)
    pthread_getname_np(pthread_self(), label.name, sizeof label.name);
    std::uint64_t id = 0;
    pthread_threadid_np(nullptr, &id);
    label.id = id;
#elif defined(__linux__)
    pthread_getname_np(pthread_self(), label.name, sizeof label.name);
    // The system call, not gettid(): glibc has that wrapper only from 2.30, and the wheels run on 2.17.
    label.id = static_cast<std::uint64_t>(::syscall(SYS_gettid));
#endif
    return label;
}

}  // namespace zelk::call
