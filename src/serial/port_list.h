#pragma once

#include <QList>
#include <QString>

namespace dorq {

// A serial port the system reports, with what the system knows of it.
struct SystemPort
{
    QString path;  // what to open: a stable name where the system has one
    QString label; // the path and what the system knows of the device
};

QList<SystemPort> systemPorts();

} // namespace dorq
