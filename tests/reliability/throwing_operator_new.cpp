// Preloaded under ASan and valgrind: operator new that throws std::bad_alloc when memory cannot be had.
#include <dlfcn.h>
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0  // a machine without valgrind builds this for ASan only
#endif

#include <cstddef>
#include <cstdlib>
#include <new>

// Both tools replace operator new with one that ends the process when a request
// cannot be met, so the MemoryError / std::bad_alloc paths could not be tested
// under them. Their nothrow forms return NULL instead (ASan with
// allocator_may_return_null=1). The throwing forms below call those and throw
// on NULL: the memory still comes from the tool, whose new/delete pairing
// checks keep working; only the failure becomes an exception again.

namespace {

bool tool_present = false;

// Runs before main and before any C++ static constructor of the preloading
// process (we are first in the preload list), so the answer is in place before
// the first operator new.
[[gnu::constructor]] void detect_tool()
{
    tool_present = RUNNING_ON_VALGRIND || dlsym(RTLD_DEFAULT, "__asan_init") != nullptr;
}

void* or_throw(void* p)
{
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

// Without a tool (valgrind's launcher inherits the preload before it starts
// the program) libstdc++'s nothrow new would call back into us, so allocate
// as libstdc++ does.
void* plain_new(std::size_t n, std::size_t alignment)
{
    if (n == 0) n = 1;
    for (;;) {
        void* p = nullptr;
        if (alignment <= alignof(std::max_align_t)) {
            p = std::malloc(n);
        } else if (posix_memalign(&p, alignment, n) != 0) {
            p = nullptr;
        }
        if (p != nullptr) return p;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

}  // namespace

void* operator new(std::size_t n)
{
    if (!tool_present) return plain_new(n, 0);
    return or_throw(::operator new(n, std::nothrow));
}

void* operator new[](std::size_t n)
{
    if (!tool_present) return plain_new(n, 0);
    return or_throw(::operator new[](n, std::nothrow));
}

void* operator new(std::size_t n, std::align_val_t a)
{
    if (!tool_present) return plain_new(n, static_cast<std::size_t>(a));
    return or_throw(::operator new(n, a, std::nothrow));
}

void* operator new[](std::size_t n, std::align_val_t a)
{
    if (!tool_present) return plain_new(n, static_cast<std::size_t>(a));
    return or_throw(::operator new[](n, a, std::nothrow));
}
