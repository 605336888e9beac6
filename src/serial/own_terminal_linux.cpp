#include "own_terminal_linux.h"

#include <QFile>
#include <sys/sysmacros.h>

namespace dorq {

namespace {

// The controlling terminal from /proc/self/stat's tty_nr; 0 when there is none. The command
// name in parentheses may hold spaces and parentheses itself: the fields follow the last ')'.
dev_t controllingTerminal()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // After the name: state, ppid, pgrp, session, tty_nr.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 1).simplified().split(' ');
    const unsigned long ttyNr = fields.value(4).toULong();
    if (ttyNr == 0)
        return 0;
    // The kernel's encoding: major in bits 8-15, minor in bits 0-7 and 20-31.
    return makedev((ttyNr >> 8) & 0xfff, (ttyNr & 0xff) | ((ttyNr >> 12) & 0xfff00));
}

} // namespace

bool isOwnTerminal(dev_t device)
{
    if (device == makedev(5, 0))
        return true;
    const dev_t own = controllingTerminal();
    return own != 0 && device == own;
}

} // namespace dorq
