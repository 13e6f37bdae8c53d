// Test helper: the message of the internal fault an action throws.
#pragma once

#include <string>

#include "fault/fault.hpp"

// The fault's message, or "<no fault>" when the action returns normally.
template <class Action>
std::string fault_message(Action&& action)
{
    try {
        action();
    } catch (const zelk::Fault& fault) {
        return fault.message();
    }
    return "<no fault>";
}
