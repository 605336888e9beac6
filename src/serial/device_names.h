#pragma once

#include <QMap>
#include <QString>

namespace dorq {

// Port number to device name: 1 -> "/dev/ttyS0" and so on.
using PortMap = QMap<int, QString>;
PortMap defaultPortMap();
// A device a user of this platform would name, for examples in advice: "/dev/ttyUSB0".
QString exampleDevice();

// Where the system finds a device name: on Unix a bare name such as "ttyUSB0" or "pts/3" is
// under /dev, "./x" and "../x" are relative to the working directory, "/..." is a path.
QString devicePath(const QString &name);

// A file the user probably meant by a device name that was not found: on Unix "./plc" when
// "plc" was looked for in /dev but lies right here. Empty when there is none.
QString fileMeantBy(const QString &name);

} // namespace dorq
