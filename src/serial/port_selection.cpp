#include "port_selection.h"

#include "ms_comm.h"

namespace dorq {

QString portStatusText(int port)
{
    return QStringLiteral("PLC op COM%1 %2").arg(port).arg(PlcSettings);
}

QString selectPort(MsComm &comm, int port)
{
    comm.setPortOpen(false);
    comm.setCommPort(port);
    comm.setSettings(PlcSettings);
    comm.setInputLen(1);
    comm.setDTREnable(true);
    comm.setRTSEnable(true);
    comm.setRThreshold(1);
    comm.setPortOpen(true);
    return portStatusText(port);
}

} // namespace dorq
