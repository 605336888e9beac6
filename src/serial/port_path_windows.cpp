#include "port_path.h"

namespace dorq {

// "COM3" is how Windows users and programs name a port.
QString portPath(const QSerialPortInfo &info)
{
    return info.portName();
}

} // namespace dorq
