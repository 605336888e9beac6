// The serial line on Linux: termios and a few ioctls, each step one system call with errno
// passed on as it came. The system's own buffer is the only queue.
#include "serial_device.h"
#include "system.h"
#include "tty_linux.h"

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace dorq {

namespace {

SerialError failure(int error, ErrorStep step, const QString &device)
{
    return SerialError(errnoError(error, step, device));
}

// Every Error with a kind other than the errno's own, for the same number.
SerialError failure(int error, ErrorStep step, const QString &device, ErrorKind kind,
                    ErrorReason reason = ErrorReason::None)
{
    Error e = errnoError(error, step, device);
    e.kind = kind;
    e.reason = reason;
    return SerialError(std::move(e));
}

SerialError busy(const QString &device, const PortHolder &holder)
{
    Error e = errnoError(EBUSY, ErrorStep::Open, device);
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

class LinuxSerialLine final : public SerialDevice
{
public:
    ~LinuxSerialLine() override { close(); }

    void open(const DeviceRequest &request) override
    {
        close();
        m_name = request.name;
        const QByteArray path = nativePath(m_name);
        refuseBeforeOpening(path);
        bool untrusted = false;
        OwnedFd fd{openTrusted(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0,
                               untrusted)};
        if (fd.fd < 0) {
            const int error = errno;
            if (untrusted)
                throw failure(error, ErrorStep::Open, m_name, ErrorKind::Untrusted);
            if (error == EBUSY)
                throw busy(m_name, flockHolder(path));
            if (error == EISDIR)
                throw failure(error, ErrorStep::Open, m_name, ErrorKind::NotSerial,
                              ErrorReason::Folder);
            throw failure(error, ErrorStep::Open, m_name);
        }
        termios tio{};
        if (::tcgetattr(fd.fd, &tio) != 0)
            throw failure(errno, ErrorStep::Open, m_name);
        unsigned int ptyNumber = 0;
        if (::ioctl(fd.fd, TIOCGPTN, &ptyNumber) == 0)
            throw failure(ENOTTY, ErrorStep::Open, m_name, ErrorKind::NotSerial,
                          ErrorReason::PtyMaster);
        takeExclusively(fd.fd, path);
        setLine(fd.fd, tio, request.settings);
        m_fd = fd.release();
        try {
            setModemLine(TIOCM_DTR, request.dtr, ErrorReason::Dtr);
            setModemLine(TIOCM_RTS, request.rts, ErrorReason::Rts);
        } catch (...) {
            close();
            throw;
        }
        m_reader = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_reader, &QSocketNotifier::activated, this, &LinuxSerialLine::onReadable);
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        drop(m_reader);
        drop(m_writer);
        // A line that failed hard has no rest worth sending.
        const QByteArray rest = m_heldError ? QByteArray() : m_held;
        m_held.clear();
        m_heldError = 0;
        const int fd = std::exchange(m_fd, -1);
        struct stat node = {};
        if ((rest.isEmpty() && ttyCalls().queued(fd) <= 0) || ::fstat(fd, &node) != 0) {
            ::close(fd);
            return;
        }
        // Half a line must not stay on the wire, and the last close of a UART waits in the
        // kernel until its buffer has left (seconds at 9600 baud): neither may hold up the
        // window, and an ending process would cut both short.
        closeInBackground(fd, node.st_rdev, rest);
    }

    bool isOpen() const override { return m_fd >= 0; }
    void setDtr(bool on) override { setModemLine(TIOCM_DTR, on, ErrorReason::Dtr); }
    void setRts(bool on) override { setModemLine(TIOCM_RTS, on, ErrorReason::Rts); }

    void write(const QByteArray &bytes) override
    {
        if (!m_held.isEmpty() && sendHeld() != 0)
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
            if (sendHeld() != 0 && m_heldError)
                drop(m_writer); // the read side reports the loss, once
        });
        failWrite(EAGAIN, int(taken), bytes.size());
    }

private:
    // What must not be opened at all, since opening a tty and setting it up are one step
    // here: our own close still under way, a lock file of another program, the terminal the
    // user types into. The node is looked at along the way the open takes, without opening it.
    void refuseBeforeOpening(const QByteArray &path)
    {
        bool untrusted = false;
        OwnedFd at{openTrusted(path.constData(), O_PATH | O_CLOEXEC, 0, untrusted)};
        struct stat node = {};
        if (at.fd < 0 || ::fstat(at.fd, &node) != 0 || !S_ISCHR(node.st_mode))
            return; // open() says why
        if (isOwnTerminal(node.st_rdev))
            throw failure(ENOTTY, ErrorStep::Open, m_name, ErrorKind::NotSerial,
                          ErrorReason::OwnTerminal);
        if (isStillClosing(node.st_rdev))
            throw failure(EBUSY, ErrorStep::Open, m_name, ErrorKind::StillClosing);
        const LockFileHolder held = lockFileHolder(at.fd, node);
        if (held.holder.pid)
            throw busy(m_name, held.holder);
        if (held.ignored.pid)
            emit noticed(lockFileNotice(held, m_name));
    }

    // flock ends with the process that holds the port, however it ends. TIOCEXCL also keeps
    // out programs that take no flock, but a pty slave keeps it after its last close for as
    // long as the master lives, shutting out every later open but root's: there flock alone.
    void takeExclusively(int fd, const QByteArray &path) const
    {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                throw busy(m_name, flockHolder(path));
            throw failure(errno, ErrorStep::Open, m_name);
        }
        struct stat opened = {};
        if (::fstat(fd, &opened) != 0)
            throw failure(errno, ErrorStep::Open, m_name);
        if (!isPtySlave(opened.st_rdev) && ::ioctl(fd, TIOCEXCL) != 0)
            throw failure(errno, ErrorStep::Open, m_name);
    }

    // A line already at these settings is left alone. TCSETS rather than tcsetattr(): glibc's
    // reads the settings back and fails with EINVAL when a pseudo-terminal, which drops parity
    // enable, already holds the rest of them (a second open of the same pty). Linux on x86 and
    // ARM, where glibc's termios begins as the kernel's.
    void setLine(int fd, const termios &current, const LineSettings &settings) const
    {
        termios wanted = lineFor(current, settings, m_name);
        if (!sameSettings(current, wanted) && ::ioctl(fd, TCSETS, &wanted) != 0)
            throw failure(errno, ErrorStep::Settings, m_name, ErrorKind::Refused);
    }

    // A line the system did not take, or took only part of: the port stays open. Any other
    // failure leaves the line in an unknown state, and the port is closed.
    [[noreturn]] void failWrite(int error, int taken, qsizetype size)
    {
        Error e = errnoError(error, ErrorStep::Write, m_name);
        if (error == EAGAIN) {
            e.taken = taken;
            e.size = int(size);
        } else {
            close();
        }
        throw SerialError(std::move(e));
    }

    // One try at what is left of a line: 0 when all went, else EAGAIN, or a harder error,
    // which m_heldError keeps.
    int sendHeld()
    {
        const ssize_t n = ttyCalls().write(m_fd, m_held.constData(), std::size_t(m_held.size()));
        if (n > 0)
            m_held.remove(0, n);
        if (m_held.isEmpty()) {
            drop(m_writer);
            return 0;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return m_heldError = errno;
        return EAGAIN;
    }

    void setModemLine(int line, bool on, ErrorReason lineName)
    {
        if (m_fd < 0)
            return; // applied at the next open
        // Pseudo-terminals have no modem lines; that is no reason to refuse the port.
        if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || errno == ENOTTY ||
            errno == EINVAL)
            return;
        throw failure(errno, ErrorStep::ModemLine, m_name, ErrorKind::Refused, lineName);
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
            const Error lostError =
                failure(error, ErrorStep::Watch, m_name, ErrorKind::Lost).error();
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
    return std::make_unique<LinuxSerialLine>();
}

} // namespace dorq
