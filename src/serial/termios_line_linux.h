#pragma once

#include "line_settings.h"

#include <QString>
#include <sys/types.h>
#include <termios.h>

namespace dorq {

// Raw 8-bit line at the request's settings, no flow control, receiver on, modem status
// ignored (a null-modem cable carries no carrier). Throws for what no UART can do.
termios lineFor(termios current, const LineSettings &settings, const QString &device);
bool sameSettings(const termios &a, const termios &b);

// A slave of /dev/ptmx: a pseudo-terminal standing in for a serial line.
bool isPtySlave(dev_t device);

} // namespace dorq
