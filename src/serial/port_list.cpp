#include "port_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace dorq {

namespace {

#ifndef Q_OS_WIN
// A USB adapter keeps its name under /dev/serial/by-id when it is plugged into another
// socket; ttyUSB0 may become ttyUSB1.
QString stablePath(const QString &systemLocation)
{
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == systemLocation)
            return link.absoluteFilePath();
    return systemLocation;
}
#endif

} // namespace

QList<SystemPort> systemPorts()
{
    QList<SystemPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SystemPort port;
#ifdef Q_OS_WIN
        port.path = info.portName();
#else
        port.path = stablePath(info.systemLocation());
#endif
        QStringList known;
        for (const QString &fact : {info.description(), info.manufacturer()})
            if (!fact.isEmpty() && !known.contains(fact))
                known << fact;
        if (!info.serialNumber().isEmpty())
            known << QStringLiteral("serienummer %1").arg(info.serialNumber());
        port.label = port.path;
        if (port.path != info.systemLocation() && port.path != info.portName())
            port.label += QStringLiteral(" (%1)").arg(info.portName());
        if (!known.isEmpty())
            port.label += QStringLiteral(": ") + known.join(QStringLiteral(", "));
        ports << port;
    }
    return ports;
}

} // namespace dorq
