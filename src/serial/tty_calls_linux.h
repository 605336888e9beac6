#pragma once

#include <cstddef>
#include <sys/types.h>

namespace dorq {

// The system calls of the Unix serial device that a test must be able to steer: a line the
// system takes only in part, output still queued when the port closes. Everywhere else they
// are the system's own.
struct TtyCalls
{
    ssize_t (*write)(int fd, const void *bytes, std::size_t size);
    int (*queued)(int fd); // written but not yet sent; -1 when the system cannot say
    int (*close)(int fd);  // the last close of a port whose output has not all left
};

TtyCalls &ttyCalls();

} // namespace dorq
