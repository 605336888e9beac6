#include "termios_line_linux.h"

#include "serial_error.h"

#include <sys/sysmacros.h>

namespace dorq {

namespace {

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

} // namespace

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
        throw invalid(ErrorNumber::InvalidPropertyValue, device,
                      QStringLiteral("1,5 stopbit kan %1 alleen met 5 databits").arg(device));
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

} // namespace dorq
