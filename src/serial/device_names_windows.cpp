#include "device_names.h"

namespace dorq {

PortMap defaultPortMap()
{
    return {{1, QStringLiteral("COM1")}, {2, QStringLiteral("COM2")}};
}

QString exampleDevice()
{
    return QStringLiteral("COM3");
}

QString devicePath(const QString &name)
{
    return name;
}

QString fileMeantBy(const QString &)
{
    return {};
}

} // namespace dorq
