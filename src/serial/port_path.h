#pragma once

#include <QSerialPortInfo>
#include <QString>

namespace dorq {

// What to open for a port the system reports: a name that stays with the device where the
// platform has one.
QString portPath(const QSerialPortInfo &info);

} // namespace dorq
