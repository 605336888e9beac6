#include "tty_calls_linux.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace dorq {

TtyCalls &ttyCalls()
{
    static TtyCalls calls{::write,
                          [](int fd) {
                              int queued = 0;
                              return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
                          },
                          ::close};
    return calls;
}

} // namespace dorq
