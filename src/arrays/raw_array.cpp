// RawArray's storage and the Buffer type through which numpy arrays own it.
#include "arrays/raw_array.hpp"

#include <cstdint>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "arrays/frame.hpp"
#include "call/once_cell.hpp"
#include "fault/checked_size.hpp"

namespace zelk::arrays {
namespace {

// Immutable after creation: the storage, its byte length. Buffers are writable
// so that numpy hands out ordinary (writeable) arrays.
struct BufferObject {
    PyObject ob_base;
    std::byte* data;
    Py_ssize_t bytes;
};

int buffer_get(PyObject* self, Py_buffer* view, int flags)
{
    auto* buffer = reinterpret_cast<BufferObject*>(self);
    return PyBuffer_FillInfo(view, self, buffer->data, buffer->bytes, 0, flags);
}

void buffer_dealloc(PyObject* self)
{
    auto* buffer = reinterpret_cast<BufferObject*>(self);
    std::free(buffer->data);
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
}

PyType_Slot buffer_slots[] = {
    {Py_tp_doc, const_cast<char*>("Storage of one result array of zelk_arrays, owned by the array.")},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&buffer_get)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&buffer_dealloc)},
    {0, nullptr},
};

PyType_Spec buffer_spec = {"zelk_arrays._native.Buffer", static_cast<int>(sizeof(BufferObject)), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, buffer_slots};

call::OnceCell buffer_type_cell;

// Large results are written once, right away: on Linux, huge pages take one
// page fault where 4 KiB pages take 512 (numpy asks the same for its arrays).
void prefer_huge_pages([[maybe_unused]] std::byte* data, [[maybe_unused]] std::uint64_t bytes) noexcept
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uint64_t threshold = std::uint64_t{4} << 20;
    constexpr std::uintptr_t page = 4096;
    if (bytes < threshold) return;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(data) + bytes;
    // Advice only: where the kernel declines, the storage is as good as before.
    (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace

RawArray::RawArray(std::uint64_t count, std::size_t item_size) : count_(count), item_size_(item_size)
{
    const std::uint64_t bytes = checked_mul(count, item_size);
    checked_length<std::byte>(bytes);
    require_memory(bytes, 1);
    // At least one byte, so that an empty array still has a real address.
    data_.reset(static_cast<std::byte*>(std::malloc(bytes == 0 ? 1 : bytes)));
    if (!data_) throw AllocationFailure(bytes);
    prefer_huge_pages(data_.get(), bytes);
}

void RawArray::shrink(std::uint64_t count) noexcept
{
    if (count >= count_) return;
    // A tail under 1/16 of the storage is kept: realloc moves a large block
    // to a mapping of its own (mremap), which is unmapped when freed, so the
    // next result of the size faults in every page again, where a block freed
    // whole stays with the allocator and is reused.
    if (count_ - count < count_ / 16) {
        count_ = count;
        return;
    }
    const std::size_t bytes = count * item_size_;
    if (void* smaller = std::realloc(data_.get(), bytes == 0 ? 1 : bytes)) {
        (void)data_.release();
        data_.reset(static_cast<std::byte*>(smaller));
    }
    count_ = count;
}

call::PyRef RawArray::to_python() &&
{
    auto* type = reinterpret_cast<PyTypeObject*>(buffer_type());
    PyRef object = checked(PyType_GenericAlloc(type, 0));
    auto* buffer = reinterpret_cast<BufferObject*>(object.get());
    buffer->bytes = static_cast<Py_ssize_t>(count_ * item_size_);
    buffer->data = data_.release();
    count_ = 0;
    return checked(PyMemoryView_FromObject(object.get()));
}

PyObject* buffer_type()
{
    return buffer_type_cell.get_or_init([] { return checked(PyType_FromSpec(&buffer_spec)).release(); });
}

}  // namespace zelk::arrays
