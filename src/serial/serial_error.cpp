#include "serial_error.h"

namespace dorq {

SerialError invalid(int number, const QString &device, const QString &detail)
{
    Error e;
    e.kind = ErrorKind::Invalid;
    e.step = ErrorStep::Property;
    e.number = number;
    e.device = device;
    e.detail = detail;
    return SerialError(std::move(e));
}

} // namespace dorq
