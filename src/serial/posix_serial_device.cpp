// The serial line on Unix: termios and a few ioctls, each operation one or two system calls,
// errno passed to the caller as it came. The system's own buffer is the only queue.
#include "serial_device.h"
#include "serial_error.h"
#include "tty_calls.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace dorq {

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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
        return ErrorKind::NotSerial;
    case EAGAIN:
        return ErrorKind::NotTaken;
    case EIO: // a failed write with EIO is the same loss, noticed at a press
        return ErrorKind::Lost;
    default:
        return ErrorKind::Other;
    }
}

SerialError systemError(int error, ErrorStep step, const QString &device)
{
    Error e;
    e.kind = kindOf(error);
    e.step = step;
    e.number = error;
    e.systemText = systemText(error);
    e.device = device;
    return SerialError(std::move(e));
}

// Who holds a port, where the system says.
struct Holder
{
    QString program;
    long pid = 0;
    QString lockFile;
};

SerialError busy(const QString &device, const Holder &holder = {}, ErrorKind kind = ErrorKind::Busy)
{
    SerialError failure = systemError(EBUSY, ErrorStep::Open, device);
    Error e = failure.error();
    e.kind = kind;
    e.holder = holder.program;
    e.holderPid = holder.pid;
    e.lockFile = holder.lockFile;
    return SerialError(std::move(e));
}

// Closes a descriptor unless it is handed on: every early throw in open() lets go of it.
struct OwnedFd
{
    int fd = -1;
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

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

bool sameSettings(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] &&
           a.c_cc[VTIME] == b.c_cc[VTIME] && cfgetospeed(&a) == cfgetospeed(&b) &&
           cfgetispeed(&a) == cfgetispeed(&b);
}

// Raw 8-bit line at the request's settings, no flow control, receiver on, modem status
// ignored (a null-modem cable carries no carrier).
termios lineFor(termios tio, const LineSettings &s, const QString &name)
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
        throw invalid(ErrorNumber::InvalidPropertyValue, name,
                      QStringLiteral("1,5 stopbit kan %1 alleen met 5 databits").arg(name));
    if (s.stopBits != LineSettings::StopBits::One)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, toSpeed(s.baudRate));
    ::cfsetospeed(&tio, toSpeed(s.baudRate));
    return tio;
}

// Linux numbers the slaves of /dev/ptmx from major 136 on, in eight majors.
bool isPtySlave(dev_t device)
{
    return major(device) >= 136 && major(device) <= 143;
}

Holder processHolder(long pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    Holder holder;
    holder.pid = pid;
    if (comm.open(QIODevice::ReadOnly))
        holder.program = QString::fromLocal8Bit(comm.readAll().trimmed());
    return holder;
}

// Who holds an advisory lock on the device, from the kernel's own list.
Holder lockHolder(const QByteArray &path)
{
    struct stat st
    {
    };
    QFile locks(QStringLiteral("/proc/locks"));
    if (::stat(path.constData(), &st) != 0 || !locks.open(QIODevice::ReadOnly))
        return {};
    // "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF": pid, then dev major:minor (hex):inode.
    const QByteArray node = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(qulonglong(st.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == "FLOCK" && f[5] == node)
            return processHolder(f[4].toLong());
    }
    return {};
}

// Programs that mark a port with a lock file (minicom, QSerialPort's users) hold it while
// the process named in the file lives. A file whose process is gone is stale: it blocks
// nothing, whoever left it.
Holder lockFileHolder(const QString &canonicalPath)
{
    if (!canonicalPath.startsWith(QLatin1String("/dev/")))
        return {};
    const QString file = QStringLiteral("/run/lock/LCK..") +
                         canonicalPath.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    QFile lock(file);
    if (!lock.open(QIODevice::ReadOnly))
        return {};
    const long pid = lock.readLine(64).trimmed().toLong();
    if (pid <= 0 || pid == ::getpid() || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
        return {};
    Holder holder = processHolder(pid);
    holder.lockFile = file;
    return holder;
}

// Ports whose last close is still under way on a thread of its own, waiting in the kernel for
// their output to leave. Never freed: a closing thread may outlive every object here.
struct Closing
{
    std::mutex mutex;
    std::condition_variable done;
    std::set<dev_t> devices;
};

Closing &closing()
{
    static Closing *const all = new Closing;
    return *all;
}

class PosixSerialDevice final : public SerialDevice
{
public:
    ~PosixSerialDevice() override { close(); }

    void open(const DeviceRequest &request) override
    {
        close();
        m_name = request.name;
        const QByteArray path = QFile::encodeName(m_name);
        const auto failed = [this](int error) {
            return systemError(error, ErrorStep::Open, m_name);
        };

        const Holder held = lockFileHolder(QFileInfo(m_name).canonicalFilePath());
        if (held.pid)
            throw busy(m_name, held);
        // An open would wait in the kernel until that close is done: seconds, on a real line.
        struct stat node
        {
        };
        if (::stat(path.constData(), &node) == 0 && S_ISCHR(node.st_mode)) {
            const std::lock_guard<std::mutex> lock(closing().mutex);
            if (closing().devices.count(node.st_rdev))
                throw busy(m_name, {}, ErrorKind::StillClosing);
        }
        OwnedFd fd{::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)};
        if (fd.fd < 0) {
            const int error = errno;
            throw error == EBUSY ? busy(m_name, lockHolder(path)) : failed(error);
        }
        termios tio{};
        if (::tcgetattr(fd.fd, &tio) != 0)
            throw failed(errno);
        unsigned int ptyNumber = 0;
        if (::ioctl(fd.fd, TIOCGPTN, &ptyNumber) == 0) {
            SerialError master = failed(ENOTTY);
            Error e = master.error();
            e.detail = QStringLiteral("ptmx");
            throw SerialError(std::move(e));
        }
        // flock ends with the process that holds the port, however it ends.
        if (::flock(fd.fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                throw busy(m_name, lockHolder(path));
            throw failed(errno);
        }
        // TIOCEXCL also keeps out programs that take no flock, but a pty slave keeps it after
        // its last close for as long as the master lives, shutting out every later open but
        // root's: there flock alone must do.
        struct stat opened
        {
        };
        if (::fstat(fd.fd, &opened) != 0)
            throw failed(errno);
        if (!isPtySlave(opened.st_rdev) && ::ioctl(fd.fd, TIOCEXCL) != 0)
            throw failed(errno);

        // A line already at these settings is left alone. TCSETS rather than tcsetattr():
        // glibc's reads the settings back and fails with EINVAL when a pseudo-terminal, which
        // drops parity enable, already holds the rest of them (a second open of the same pty).
        // Linux on x86 and ARM, where glibc's termios begins as the kernel's.
        termios wanted = lineFor(tio, request.settings, m_name);
        if (!sameSettings(tio, wanted) && ::ioctl(fd.fd, TCSETS, &wanted) != 0) {
            const int error = errno;
            SerialError refused = systemError(error, ErrorStep::Settings, m_name);
            Error e = refused.error();
            e.kind = ErrorKind::Refused;
            throw SerialError(std::move(e));
        }

        m_fd = fd.release();
        try {
            setModemLine(TIOCM_DTR, request.dtr, "DTR");
            setModemLine(TIOCM_RTS, request.rts, "RTS");
        } catch (...) {
            close();
            throw;
        }
        m_reader = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_reader, &QSocketNotifier::activated, this, &PosixSerialDevice::onReadable);
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        drop(m_reader);
        drop(m_writer);
        // The rest of a line gets a moment to follow, since half a line must not stay on the
        // wire; a far end that takes nothing at all may still keep that half.
        if (!m_held.isEmpty())
            sendHeld(HeldDeadlineMs);
        m_held.clear();
        m_heldError = 0;
        const int fd = std::exchange(m_fd, -1);
        struct stat node
        {
        };
        if (ttyCalls().queued(fd) <= 0 || ::fstat(fd, &node) != 0) {
            ::close(fd);
            return;
        }
        // The last close of a UART waits in the kernel until its buffer has left (seconds at
        // 9600 baud), and a process that ends meanwhile would cut that wait short and lose
        // the rest: close on a thread, and let the program wait for it at its end.
        {
            const std::lock_guard<std::mutex> lock(closing().mutex);
            closing().devices.insert(node.st_rdev);
        }
        try {
            std::thread([fd, device = node.st_rdev, close = ttyCalls().close] {
                close(fd);
                {
                    const std::lock_guard<std::mutex> lock(closing().mutex);
                    closing().devices.erase(device);
                }
                closing().done.notify_all();
            }).detach();
        } catch (const std::system_error &) {
            ::close(fd);
            const std::lock_guard<std::mutex> lock(closing().mutex);
            closing().devices.erase(node.st_rdev);
        }
    }

    bool isOpen() const override { return m_fd >= 0; }
    void setDtr(bool on) override { setModemLine(TIOCM_DTR, on, "DTR"); }
    void setRts(bool on) override { setModemLine(TIOCM_RTS, on, "RTS"); }

    void write(const QByteArray &bytes) override
    {
        if (!m_held.isEmpty() && sendHeld(0) != 0)
            failWrite(m_heldError ? m_heldError : EAGAIN, 0, bytes.size());
        ssize_t taken;
        do {
            taken = ttyCalls().write(m_fd, bytes.constData(), std::size_t(bytes.size()));
        } while (taken < 0 && errno == EINTR);
        if (taken == bytes.size())
            return;
        if (taken < 0)
            failWrite(errno, 0, bytes.size());
        // Never half a line on the wire: the rest goes before anything else.
        m_held = bytes.mid(taken);
        m_writer = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
        connect(m_writer, &QSocketNotifier::activated, this, [this] {
            if (sendHeld(0) != 0 && m_heldError)
                drop(m_writer); // the read side reports the loss, once
        });
        failWrite(EAGAIN, int(taken), bytes.size());
    }

private:
    static constexpr int HeldDeadlineMs = 80;

    // A line the system did not take, or took only part of: the port stays open. Any other
    // failure leaves the line in an unknown state, and the port is closed.
    [[noreturn]] void failWrite(int error, int taken, qsizetype size)
    {
        SerialError failure = systemError(error, ErrorStep::Write, m_name);
        if (error == EAGAIN) {
            Error e = failure.error();
            e.taken = taken;
            e.size = int(size);
            throw SerialError(std::move(e));
        }
        close();
        throw failure;
    }

    // Hands over what is left of a line, trying for up to `deadlineMs`. 0 when all went,
    // else EAGAIN, or a harder error, which m_heldError keeps.
    int sendHeld(int deadlineMs)
    {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const ssize_t n =
                ttyCalls().write(m_fd, m_held.constData(), std::size_t(m_held.size()));
            if (n > 0)
                m_held.remove(0, n);
            if (m_held.isEmpty()) {
                drop(m_writer);
                return 0;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                m_heldError = errno;
                return m_heldError;
            }
            if (waited.hasExpired(deadlineMs))
                return EAGAIN;
            QThread::usleep(1000); // a byte at 9600 baud
        }
    }

    void setModemLine(int line, bool on, const char *lineName)
    {
        if (m_fd < 0)
            return; // applied at the next open
        // Pseudo-terminals have no modem lines; that is no reason to refuse the port.
        if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || errno == ENOTTY ||
            errno == EINVAL)
            return;
        const int error = errno;
        SerialError refused = systemError(error, ErrorStep::ModemLine, m_name);
        Error e = refused.error();
        e.kind = ErrorKind::Refused;
        e.detail = QLatin1String(lineName);
        throw SerialError(std::move(e));
    }

    // Nothing is ever read: what the far end sends is dropped. The read side is also where
    // a lost line shows: end of file or an error, once, after which the port is closed.
    void onReadable()
    {
        char buffer[4096];
        for (int round = 0; round < 16; ++round) { // a fast stream may not starve the loop
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            int error = n < 0 ? errno : EIO;
            if (n == 0) {
                // A raw line's read gives 0 when nothing waits, too: only a hang-up ends it.
                pollfd p{m_fd, POLLIN, 0};
                if (::poll(&p, 1, 0) != 1 || !(p.revents & (POLLHUP | POLLERR)))
                    return;
                termios tio{};
                if (::tcgetattr(m_fd, &tio) != 0)
                    error = errno; // a hung-up terminal says why here
            }
            Error lostError = systemError(error, ErrorStep::Watch, m_name).error();
            lostError.kind = ErrorKind::Lost;
            close();
            emit lost(lostError);
            return;
        }
    }

    // A notifier may be what is calling us right now: disable it at once, delete it later.
    static void drop(QSocketNotifier *&notifier)
    {
        if (!notifier)
            return;
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }

    int m_fd = -1;
    QString m_name;
    QByteArray m_held; // the rest of a line the system took only part of
    int m_heldError = 0;
    QSocketNotifier *m_reader = nullptr;
    QSocketNotifier *m_writer = nullptr;
};

} // namespace

std::unique_ptr<SerialDevice> makeSystemSerialDevice()
{
    return std::make_unique<PosixSerialDevice>();
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

bool waitForClosingPorts(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(closing().mutex);
    return closing().done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [] { return closing().devices.empty(); });
}

} // namespace dorq
