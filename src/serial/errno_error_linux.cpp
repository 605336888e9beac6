#include "errno_error_linux.h"

#include <cerrno>
#include <cstring>

namespace dorq {

namespace {

ErrorKind kindOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ErrorKind::NotFound;
    case EACCES:
    case EPERM:
        return ErrorKind::Denied;
    case EBUSY:
        return ErrorKind::Busy;
    case ENOTTY:
    case EISDIR:
        return ErrorKind::NotSerial;
    case EAGAIN:
        return ErrorKind::NotTaken;
    case EIO: // a failed write with EIO is the same loss, noticed at a press
        return ErrorKind::Lost;
    default:
        return ErrorKind::Other;
    }
}

} // namespace

Error errnoError(int error, ErrorStep step, const QString &device)
{
    Error e;
    e.kind = kindOf(error);
    e.step = step;
    e.number = error;
    e.systemText = QString::fromLocal8Bit(std::strerror(error));
    e.device = device;
    return e;
}

} // namespace dorq
