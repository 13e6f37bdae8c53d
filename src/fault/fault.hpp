// The core's internal-fault exception: a violated invariant or an invalid request, with its message.
#pragma once

#include <cstdint>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace zelk {

// Thrown by the numeric core for every violated invariant; the module's entry
// guard reports it on stderr and raises it to Python as PanicException.
class Fault : public std::exception {
public:
    explicit Fault(std::string message, std::source_location where = std::source_location::current());

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

[[noreturn]] void fail(std::string message, std::source_location where = std::source_location::current());

// A result whose exact value lies beyond the double range: the arrays module
// raises it as OverflowError rather than return an infinity or a NaN.
class ValueOverflow : public Fault {
public:
    using Fault::Fault;
};

[[noreturn]] void fail_overflow(std::string message, std::source_location where = std::source_location::current());

// The three-line message of a failed equality check:
//   assertion `left == right` failed: <message>
//     left: <left>
//    right: <right>
std::string equality_message(std::uint64_t left, std::uint64_t right, std::string_view message);

[[noreturn]] void fail_equality(std::uint64_t left, std::uint64_t right, std::string_view message,
                                std::source_location where = std::source_location::current());

inline void check_equal(std::uint64_t left, std::uint64_t right, std::string_view message,
                        std::source_location where = std::source_location::current())
{
    if (left != right) fail_equality(left, right, message, where);
}

}  // namespace zelk
