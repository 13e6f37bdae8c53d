// RawArray: result storage that the core fills and Python then owns without a copy (exposed as a buffer).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "call/pyref.hpp"

namespace zelk::arrays {

class RawArray {
public:
    // Room for `count` items of `item_size` bytes. A count beyond the address
    // space is a "capacity overflow" fault; one beyond the memory limit, or
    // that malloc refuses, throws std::bad_alloc before anything is written.
    RawArray(std::uint64_t count, std::size_t item_size);

    template <class T>
    std::span<T> as() noexcept
    {
        return {reinterpret_cast<T*>(data_.get()), static_cast<std::size_t>(count_)};
    }
    std::uint64_t count() const noexcept { return count_; }
    std::size_t item_size() const noexcept { return item_size_; }

    // Gives back the tail beyond `count` items, unless it is under 1/16 of the
    // storage; realloc shrinks in place (or remaps), so no second copy of the
    // data is ever alive for long.
    void shrink(std::uint64_t count) noexcept;

    // A memoryview of a new zelk_arrays._native.Buffer that owns the storage;
    // this array is empty afterwards.
    call::PyRef to_python() &&;

private:
    struct Free {
        void operator()(void* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<std::byte, Free> data_;
    std::uint64_t count_;
    std::size_t item_size_;
};

// Makes the Buffer type; called once from the module's initialisation.
PyObject* buffer_type();

}  // namespace zelk::arrays
