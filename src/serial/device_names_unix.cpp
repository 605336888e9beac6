#include "device_names.h"

#include <QFileInfo>

namespace dorq {

PortMap defaultPortMap()
{
    return {{1, QStringLiteral("/dev/ttyS0")}, {2, QStringLiteral("/dev/ttyS1")}};
}

QString exampleDevice()
{
    return QStringLiteral("/dev/ttyUSB0");
}

QString devicePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return name;
    if (name.startsWith(QLatin1String("./")) || name.startsWith(QLatin1String("../")))
        return QFileInfo(name).absoluteFilePath();
    return QStringLiteral("/dev/") + name;
}

QString fileMeantBy(const QString &name)
{
    const bool bare = devicePath(name) == QStringLiteral("/dev/") + name;
    return bare && QFileInfo::exists(name) ? QStringLiteral("./") + name : QString();
}

} // namespace dorq
