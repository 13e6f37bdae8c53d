// Construction and formatting of internal faults.
#include "fault/fault.hpp"

#include <utility>

namespace zelk {

Fault::Fault(std::string message, std::source_location where) : message_(std::move(message)), where_(where)
{
}

void fail(std::string message, std::source_location where)
{
    throw Fault(std::move(message), where);
}

void fail_overflow(std::string message, std::source_location where)
{
    throw ValueOverflow(std::move(message), where);
}

std::string equality_message(std::uint64_t left, std::uint64_t right, std::string_view message)
{
    std::string text = "assertion `left == right` failed: ";
    text.append(message);
    text.append("\n  left: ").append(std::to_string(left));
    text.append("\n right: ").append(std::to_string(right));
    return text;
}

void fail_equality(std::uint64_t left, std::uint64_t right, std::string_view message, std::source_location where)
{
    throw Fault(equality_message(left, right, message), where);
}

}  // namespace zelk
