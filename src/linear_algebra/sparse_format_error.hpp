// SparseFormatError: why raw compressed-sparse arrays were refused.
#pragma once

#include <string>

namespace zelk::linear_algebra {

enum class SparseFormatErrorKind {
    IndexOutOfBounds,
    DuplicateEntry,
    InvalidStructure,
};

struct SparseFormatError {
    SparseFormatErrorKind kind;
    std::string error;
};

}  // namespace zelk::linear_algebra
