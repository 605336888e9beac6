#include "serial_device.h"
#include "serial_error.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QThread>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <QFile>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace dorq {

namespace {

QSerialPort::Parity toQt(LineSettings::Parity p)
{
    switch (p) {
    case LineSettings::Parity::None:
        return QSerialPort::NoParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits s)
{
    switch (s) {
    case LineSettings::StopBits::One:
        return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

// QSerialPort gives the system's message but not its number; the message names it exactly.
// Qt words a few of them itself, in English whatever the locale.
int systemErrorNumber(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    const QString text = port.errorString();
    const std::pair<int, const char *> qtWords[] = {{EACCES, "Permission denied"},
                                                    {ENOENT, "No such file or directory"},
                                                    {EMFILE, "Too many open files"},
                                                    {ENOSPC, "No space left on device"}};
    for (const auto &[number, words] : qtWords)
        if (text == QLatin1String(words))
            return number;
    for (int e = 1; e < 256; ++e)
        if (text == QString::fromLocal8Bit(std::strerror(e)))
            return e;
#endif
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return ENOENT;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return EBUSY;
    case QSerialPort::NotOpenError:
        return ErrorNumber::PortNotOpen;
    case QSerialPort::UnsupportedOperationError:
        return ENOTTY;
    default:
        return EIO;
    }
}

class QtSerialDevice final : public SerialDevice
{
public:
    QtSerialDevice()
    {
        // Nothing is ever read: drop what the far end sends instead of buffering it forever.
        connect(&m_port, &QSerialPort::readyRead, this, [this] { m_port.readAll(); });
        connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialDevice::onError);
    }

    void open(const DeviceRequest &request) override
    {
        const Busy busy(m_busy);
        close();
        m_name = request.name;
        const QString location = systemLocation(request.name);
        m_port.setPortName(location);
        m_port.setBaudRate(request.settings.baudRate);
        m_port.setParity(toQt(request.settings.parity));
        m_port.setDataBits(static_cast<QSerialPort::DataBits>(request.settings.dataBits));
        m_port.setStopBits(toQt(request.settings.stopBits));
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!m_port.open(QIODevice::ReadWrite)) {
            diagnoseFailedOpen(location);
            // A terminal left at exactly these settings by a killed run refuses the same
            // request on a pseudo-terminal (EINVAL); from a neutral state it is accepted.
            if (systemErrorNumber(m_port) != EINVAL || !neutralize(location) ||
                !m_port.open(QIODevice::ReadWrite))
                throw failure(QStringLiteral("Kan %1 niet openen").arg(request.name));
        }
        try {
            setLine(&QSerialPort::setDataTerminalReady, request.dtr, "DTR");
            setLine(&QSerialPort::setRequestToSend, request.rts, "RTS");
        } catch (...) {
            m_port.close();
            throw;
        }
    }

    void close() override
    {
        if (m_port.isOpen())
            drain();
        m_port.close();
    }
    bool isOpen() const override { return m_port.isOpen(); }

    void setDtr(bool on) override
    {
        const Busy busy(m_busy);
        setLine(&QSerialPort::setDataTerminalReady, on, "DTR");
    }

    void setRts(bool on) override
    {
        const Busy busy(m_busy);
        setLine(&QSerialPort::setRequestToSend, on, "RTS");
    }

    void write(const QByteArray &bytes) override
    {
        const Busy busy(m_busy);
        m_port.clearError();
        const qint64 taken = m_port.write(bytes);
        // flush() hands the bytes to the system now rather than at the next event loop turn.
        if (taken == bytes.size() && !m_port.flush() && backedUp())
            m_port.clearError(); // the rest follows in order as the line drains
        if (taken != bytes.size() || m_port.error() != QSerialPort::NoError) {
            const SerialError error =
                failure(QStringLiteral("Schrijven naar %1 mislukt").arg(m_name));
            m_port.close(); // a line that failed a write is in an unknown state
            throw error;
        }
    }

private:
    // Errors raised while a caller is inside an operation are that caller's to throw.
    struct Busy
    {
        explicit Busy(int &depth) : m_depth(depth) { ++m_depth; }
        ~Busy() { --m_depth; }
        int &m_depth;
    };

    // The system's buffer for the line is full: not a failure, only a wait. Asked only right
    // after a write, since QSerialPort reports a hang-up with whatever errno was left over.
    bool backedUp() const
    {
        const int number = systemErrorNumber(m_port);
        return number == EAGAIN || number == EWOULDBLOCK;
    }

    // Closing puts the line's earlier settings back at once, and drops what QSerialPort still
    // holds; bytes on their way would be lost or go out at the wrong speed and parity. Give
    // them time to leave, within a bound, so that a far end that reads nothing cannot hang us.
    void drain()
    {
        const Busy busy(m_busy);
        const QDeadlineTimer deadline(1000);
        while (m_port.bytesToWrite() > 0 &&
               m_port.waitForBytesWritten(int(deadline.remainingTime()))) {
        }
#ifdef Q_OS_UNIX
        const int fd = int(m_port.handle());
        int queued = 0;
        while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && !deadline.hasExpired())
            QThread::msleep(2);
        if (queued == 0)
            ::tcdrain(fd); // what is left sits in the transmitter itself: a millisecond or two
#endif
    }

    void onError(QSerialPort::SerialPortError error)
    {
        if (m_busy > 0 || !m_port.isOpen() || error == QSerialPort::NoError ||
            error == QSerialPort::TimeoutError || error == QSerialPort::UnsupportedOperationError)
            return;
        // A vanished device reports the same failure on every turn of the event loop; close
        // on the first so that it is reported once and nothing spins.
        const SerialError lostError = whyLost();
        m_port.close();
        emit lost(lostError.number(), lostError.text());
    }

    // A hung-up terminal reads as end of file, after which QSerialPort reports a stale errno;
    // asking the terminal itself gives the real reason.
    SerialError whyLost() const
    {
        const QString what = QStringLiteral("Verbinding met %1 verbroken").arg(m_name);
#ifdef Q_OS_UNIX
        termios tio{};
        if (::tcgetattr(static_cast<int>(m_port.handle()), &tio) != 0) {
            const int error = errno;
            return SerialError(error, QStringLiteral("%1: %2").arg(
                                          what, QString::fromLocal8Bit(std::strerror(error))));
        }
#endif
        return failure(what);
    }

    using LineSetter = bool (QSerialPort::*)(bool);
    void setLine(LineSetter set, bool on, const char *line)
    {
        if (!m_port.isOpen())
            return; // applied at the next open
        m_port.clearError();
        // Pseudo-terminals have no modem-control lines; that is no reason to fail.
        if (!(m_port.*set)(on) && m_port.error() != QSerialPort::UnsupportedOperationError)
            throw failure(
                QStringLiteral("Kan %1 op %2 niet zetten").arg(QLatin1String(line), m_name));
        m_port.clearError();
    }

    SerialError failure(const QString &what) const
    {
        return SerialError(systemErrorNumber(m_port),
                           QStringLiteral("%1: %2").arg(what, m_port.errorString()));
    }

    // Where the system finds the device, read as QSerialPort reads a name: "ttyUSB0" and
    // "pts/3" are under /dev; "/...", "./..." and "../..." are paths.
    // Links are resolved so that the lock file agrees with programs that open the device
    // without them (a by-id name, a socat link).
    static QString systemLocation(const QString &name)
    {
#ifdef Q_OS_UNIX
        const bool asGiven = name.startsWith(QLatin1Char('/')) ||
                             name.startsWith(QLatin1String("./")) ||
                             name.startsWith(QLatin1String("../"));
        const QString path = asGiven ? name : QStringLiteral("/dev/") + name;
        const QString real = QFileInfo(path).canonicalFilePath();
        return real.isEmpty() ? path : real;
#else
        return name;
#endif
    }

    // QSerialPort's errors do not say which system call failed; a plain open of the device
    // does, with the system's own number, for the common cases (missing, denied, no tty).
    void diagnoseFailedOpen(const QString &name) const
    {
#ifdef Q_OS_UNIX
        const QByteArray path = QFile::encodeName(name);
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        int error = fd < 0 ? errno : 0;
        termios tio{};
        if (fd >= 0 && ::tcgetattr(fd, &tio) != 0)
            error = errno;
        if (fd >= 0)
            ::close(fd);
        if (error != 0)
            throw SerialError(error,
                              QStringLiteral("Kan %1 niet openen: %2")
                                  .arg(m_name, QString::fromLocal8Bit(std::strerror(error))));
#else
        Q_UNUSED(name);
#endif
    }

    static bool neutralize(const QString &name)
    {
#ifdef Q_OS_UNIX
        const QByteArray path = QFile::encodeName(name);
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        termios tio{};
        bool done = ::tcgetattr(fd, &tio) == 0;
        if (done) {
            // Every request sets CLOCAL, so from here any request changes something.
            tio.c_cflag &= ~tcflag_t(PARENB | PARODD | CLOCAL);
            done = ::tcsetattr(fd, TCSANOW, &tio) == 0;
        }
        ::close(fd);
        return done;
#else
        Q_UNUSED(name);
        return false;
#endif
    }

    QSerialPort m_port;
    QString m_name;
    int m_busy = 0;
};

} // namespace

std::unique_ptr<SerialDevice> makeSystemSerialDevice()
{
    return std::make_unique<QtSerialDevice>();
}

} // namespace dorq
