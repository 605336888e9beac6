#pragma once

#include <QString>

namespace dorq {

class MsComm;

// The PLC's fixed line: 9600 baud, odd parity, 8 data bits, 1 stop bit.
inline const QString PlcSettings = QStringLiteral("9600,O,8,1");

QString portStatusText(int port); // "PLC op COM1 9600,O,8,1"

// Closes, configures and opens port n, and gives the status text to show. A step that
// fails throws and the later steps do not run; the port is then closed.
QString selectPort(MsComm &comm, int port);

} // namespace dorq
