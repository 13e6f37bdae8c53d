// Interruption of long-running core loops: the host installs a check that may throw to stop them.
#pragma once

namespace zelk {

// Called now and then from loops whose length follows from user input (say,
// once per column of a dense factorisation); it throws to end the operation.
using InterruptCheck = void (*)();

void set_interrupt_check(InterruptCheck check) noexcept;

// Runs the installed check, if any. Storage owned by the caller is released by
// its destructors when the check throws.
void poll_interrupt();

}  // namespace zelk
