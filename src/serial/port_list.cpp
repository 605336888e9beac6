#include "port_list.h"

#include "port_path.h"

#include <QSerialPortInfo>

namespace dorq {

QList<SystemPort> systemPorts()
{
    QList<SystemPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SystemPort port;
        port.path = portPath(info);
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
