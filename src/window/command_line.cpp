#include "command_line.h"

#include <QCommandLineParser>

namespace dorq {

PortMap parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Emuleert de pulsgenerator van een DORQ-Modicon-PLC op een seriele lijn."));
    parser.addHelpOption();
    parser.addVersionOption();
    PortMap ports = defaultPortMap();
    const QCommandLineOption com1(
        QStringLiteral("com1"),
        QStringLiteral("Apparaat achter COM1 (standaard %1).").arg(ports[1]),
        QStringLiteral("DEVICE"));
    const QCommandLineOption com2(
        QStringLiteral("com2"),
        QStringLiteral("Apparaat achter COM2 (standaard %1).").arg(ports[2]),
        QStringLiteral("DEVICE"));
    parser.addOption(com1);
    parser.addOption(com2);
    parser.process(arguments);
    if (parser.isSet(com1))
        ports[1] = parser.value(com1);
    if (parser.isSet(com2))
        ports[2] = parser.value(com2);
    return ports;
}

} // namespace dorq
