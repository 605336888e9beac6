#include "window_platform.h"

#include <cerrno>

namespace dorq {

int lastFileError()
{
    return errno ? errno : EIO;
}

void clearFileError()
{
    errno = 0;
}

QString otherDeviceExamples()
{
    return QStringLiteral("/dev/ttyUSB0 of /dev/pts/3");
}

} // namespace dorq
