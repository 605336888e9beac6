#include "window_platform.h"

#include <windows.h>

namespace dorq {

int lastFileError()
{
    const DWORD error = ::GetLastError();
    return error ? int(error) : ERROR_GEN_FAILURE;
}

void clearFileError()
{
    ::SetLastError(0);
}

QString otherDeviceExamples()
{
    return QStringLiteral("COM5 of \\\\.\\COM10");
}

} // namespace dorq
