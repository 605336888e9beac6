#include "tty_linux.h"

#include "system.h"

#include <QFile>
#include <cerrno>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace dorq {

namespace {

ErrorKind kindOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ErrorKind::NotFound;
    case EACCES:
    case EPERM:
        return ErrorKind::Denied;
    case EBUSY:
        return ErrorKind::Busy;
    case ENOTTY:
    case EISDIR:
        return ErrorKind::NotSerial;
    case EAGAIN:
        return ErrorKind::NotTaken;
    case EIO: // a failed write with EIO is the same loss, noticed at a press
        return ErrorKind::Lost;
    default:
        return ErrorKind::Other;
    }
}

speed_t toSpeed(int baud)
{
    switch (baud) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0; // refused before it gets here
    }
}

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

Error errnoError(int error, ErrorStep step, const QString &device)
{
    Error e;
    e.kind = kindOf(error);
    e.step = step;
    e.number = error;
    e.systemText = systemText(error);
    e.path = device;
    return e;
}

termios lineFor(termios tio, const LineSettings &s, const QString &device)
{
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[s.dataBits - 5];
    switch (s.parity) {
    case LineSettings::Parity::None:
        break;
    case LineSettings::Parity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case LineSettings::Parity::Even:
        tio.c_cflag |= PARENB;
        break;
    case LineSettings::Parity::Mark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case LineSettings::Parity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // A UART sends 1.5 stop bits where 2 are asked with 5 data bits; nowhere else.
    if (s.stopBits == LineSettings::StopBits::OneAndHalf && s.dataBits != 5)
        throw invalid(ErrorNumber::InvalidPropertyValue, ErrorReason::OneAndHalfStopBits,
                      QString::number(s.dataBits), device);
    if (s.stopBits != LineSettings::StopBits::One)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, toSpeed(s.baudRate));
    ::cfsetospeed(&tio, toSpeed(s.baudRate));
    return tio;
}

bool sameSettings(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] &&
           a.c_cc[VTIME] == b.c_cc[VTIME] && cfgetospeed(&a) == cfgetospeed(&b) &&
           cfgetispeed(&a) == cfgetispeed(&b);
}

// Linux numbers the slaves of /dev/ptmx from major 136 on, in eight majors.
bool isPtySlave(dev_t device)
{
    return major(device) >= 136 && major(device) <= 143;
}

bool isOwnTerminal(dev_t device)
{
    if (device == makedev(5, 0))
        return true;
    const dev_t own = controllingTerminal();
    return own != 0 && device == own;
}

TtyCalls &ttyCalls()
{
    static TtyCalls calls{::write,
                          [](int fd) {
                              int queued = 0;
                              return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
                          },
                          ::close};
    return calls;
}

} // namespace dorq
