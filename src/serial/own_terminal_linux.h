#pragma once

#include <sys/types.h>

namespace dorq {

// /dev/tty, or the terminal this program runs in: the user's own, never a serial line.
bool isOwnTerminal(dev_t device);

} // namespace dorq
