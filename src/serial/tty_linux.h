#pragma once

#include "error.h"
#include "line_settings.h"

#include <QString>
#include <cstddef>
#include <sys/types.h>
#include <termios.h>

// What the Linux serial line needs of terminals beyond the line itself.
namespace dorq {

// An errno as the line's Error: the kind the front ends choose their words by, the number
// as the system gave it, and the system's own text for it.
Error errnoError(int error, ErrorStep step, const QString &device);

// Raw 8-bit line at the request's settings, no flow control, receiver on, modem status
// ignored (a null-modem cable carries no carrier). Throws for what no UART can do.
termios lineFor(termios current, const LineSettings &settings, const QString &device);
bool sameSettings(const termios &a, const termios &b);

// A slave of /dev/ptmx: a pseudo-terminal standing in for a serial line.
bool isPtySlave(dev_t device);
// /dev/tty, or the terminal this program runs in: the user's own, never a serial line.
bool isOwnTerminal(dev_t device);

// The system calls of the line that a test must be able to steer: a line the system takes
// only in part, output still queued when the port closes. Everywhere else they are the
// system's own.
struct TtyCalls
{
    ssize_t (*write)(int fd, const void *bytes, std::size_t size);
    int (*queued)(int fd); // written but not yet sent; -1 when the system cannot say
    int (*close)(int fd);  // the last close of a port whose output has not all left
};
TtyCalls &ttyCalls();

} // namespace dorq
