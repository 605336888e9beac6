#include "port_path.h"

#include <QDir>
#include <QFileInfo>

namespace dorq {

// A USB adapter keeps its name under /dev/serial/by-id when it is plugged into another
// socket; ttyUSB0 may become ttyUSB1.
QString portPath(const QSerialPortInfo &info)
{
    const QString systemLocation = info.systemLocation();
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == systemLocation)
            return link.absoluteFilePath();
    return systemLocation;
}

} // namespace dorq
