#include "serial_error_windows.h"

#include <windows.h>

namespace dorq {

namespace {

ErrorKind kindOf(DWORD number)
{
    switch (number) {
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_OPERATION_ABORTED: // the driver cancelled the call as the device went
        return ErrorKind::Lost;
    case ERROR_ACCESS_DENIED: // Windows opens a COM port for one program at a time
    case ERROR_SHARING_VIOLATION:
        return ErrorKind::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ErrorKind::NotFound;
    case ERROR_INVALID_HANDLE: // a file, not a port
    case ERROR_INVALID_FUNCTION:
        return ErrorKind::NotSerial;
    case WAIT_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
    case ERROR_COUNTER_TIMEOUT:
        return ErrorKind::NotTaken;
    default:
        return ErrorKind::Other;
    }
}

QString systemText(DWORD number)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, number, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString words = QString::fromWCharArray(text, int(length)).trimmed();
    ::LocalFree(text);
    return words.isEmpty() ? QStringLiteral("Windows-fout %1").arg(number) : words;
}

} // namespace

Error windowsError(ErrorStep step, unsigned long number, const QString &device)
{
    Error e;
    e.kind = kindOf(number);
    e.step = step;
    e.number = int(number);
    e.systemText = systemText(number);
    e.device = device;
    return e;
}

} // namespace dorq
