#pragma once

#include "error.h"
#include "line_settings.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

// What the Linux serial line needs beyond the line itself: terminals, who holds a port,
// ports still closing.
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

// Who holds a port (port_holder_linux.cpp).

// Another process that holds a port, where the system says which.
struct PortHolder
{
    QString program;
    long pid = 0;
    QString lockFile; // empty when the kernel's own list of locks named it
};

// The process whose flock is on the device at `path`, from /proc/locks.
PortHolder flockHolder(const QByteArray &path);

// The process that the lock file of other serial programs (/run/lock/LCK..ttyS0) names for
// the device `at` refers to (a descriptor, `node` its status), when the file is believable. A
// lock file that is there but not believed is described in `ignored`, and `holder` is empty.
struct LockFileHolder
{
    PortHolder holder;
    PortHolder ignored;
    ErrorReason why = ErrorReason::None; // ProcessGone or NotBelievable, for `ignored`
};
LockFileHolder lockFileHolder(int at, const struct stat &node);
// The lock file not believed, as a notice for the user about `device`.
Error lockFileNotice(const LockFileHolder &found, const QString &device);

// Ports still closing (closing_ports_linux.cpp).

// Whether our own last close of the device is still under way: an open now would wait in
// the kernel until it is done, seconds on a real line.
bool isStillClosing(dev_t device);

// Sends `rest`, the rest of a line the system took only part of, then closes `fd`, on a
// thread of its own: either may wait for the line. The device counts as still closing until
// both are done, and waitForClosingPorts() waits for it.
void closeInBackground(int fd, dev_t device, const QByteArray &rest);

} // namespace dorq
