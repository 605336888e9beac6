// The real serial device on pseudo-terminal pairs: what arrives at the peer is the truth.
#include "error.h"
#include "line_settings.h"
#include "ms_comm.h"
#include "support/pty_pair.h"
#include "tty_linux.h"
#include "words.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace dorq;
using namespace dorq::test;

namespace {

// The error a call throws, if any.
template <typename F> std::optional<SerialError> errorOf(F &&call)
{
    try {
        call();
    } catch (const SerialError &e) {
        return e;
    }
    return std::nullopt;
}

const QByteArray Line = QByteArrayLiteral("5  10:20:30.12\r\n");

} // namespace

TEST(SerialLine, OpensAtThePlcSettingsAndWritesTheExactLine)
{
    PtyPair com1;
    MsComm comm({{1, com1.deviceName()}});
    selectPort(comm, 1);
    ASSERT_TRUE(comm.portOpen());
    EXPECT_EQ(com1.programDescriptors(), 1);

    const termios tio = com1.settings();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&tio), speed_t(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(tio.c_cflag & CSTOPB) << "one stop bit";
    EXPECT_TRUE(tio.c_cflag & PARODD) << "odd parity requested (a pty drops parity enable)";
    EXPECT_FALSE(tio.c_cflag & CRTSCTS) << "no flow control";

    comm.setOutput(Line);
    // Handed to the system already: the peer has it without the event loop turning.
    EXPECT_EQ(com1.readNow(), Line);
    EXPECT_EQ(com1.readAvailable(), QByteArray()) << "nothing added";
}

// What a pty cannot show (it drops parity enable), the settings function must say: every
// flag of the line, from a terminal left with none set and from one left with all set.
TEST(SerialLine, EveryLineSettingBecomesItsFlags)
{
    const struct
    {
        const char *settings;
        speed_t speed;
        tcflag_t size;
        bool parity, odd, twoStopBits;
    } rows[] = {
        {"9600,O,8,1", B9600, CS8, true, true, false},
        {"9600,E,8,1", B9600, CS8, true, false, false},
        {"19200,N,8,1", B19200, CS8, false, false, false},
        {"9600,E,7,2", B9600, CS7, true, false, true},
        {"300,N,5,1.5", B300, CS5, false, false, true}, // 1.5 stop bits are CSTOPB at 5 bits
    };
    termios none{}, all;
    std::memset(&all, 0xff, sizeof all);
    for (const auto &row : rows) {
        for (const termios &left : {none, all}) {
            SCOPED_TRACE(std::string(row.settings) + (left.c_cflag ? ", all set" : ", none set"));
            const termios tio = lineFor(left, parseLineSettings(row.settings), "/dev/ttyS0");
            EXPECT_EQ(cfgetospeed(&tio), row.speed);
            EXPECT_EQ(cfgetispeed(&tio), row.speed);
            EXPECT_EQ(tio.c_cflag & CSIZE, row.size);
            EXPECT_EQ(bool(tio.c_cflag & PARENB), row.parity);
            EXPECT_EQ(bool(tio.c_cflag & PARODD), row.odd);
            EXPECT_FALSE(tio.c_cflag & CMSPAR) << "no mark or space parity";
            EXPECT_EQ(bool(tio.c_cflag & CSTOPB), row.twoStopBits);
            EXPECT_FALSE(tio.c_cflag & CRTSCTS) << "no hardware flow control";
            EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
            EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | IXANY)) << "no software flow control";
            EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) << "raw";
            EXPECT_FALSE(tio.c_oflag & OPOST) << "bytes out as written";
            EXPECT_FALSE(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) << "bytes in as sent";
            EXPECT_EQ(tio.c_cc[VMIN], 0);
            EXPECT_EQ(tio.c_cc[VTIME], 0);
        }
    }
}

TEST(SerialLine, SwitchingPortsLeavesOnlyTheChosenOneOpen)
{
    PtyPair com1, com2;
    MsComm comm({{1, com1.deviceName()}, {2, com2.deviceName()}});
    selectPort(comm, 2);
    selectPort(comm, 1);
    EXPECT_EQ(com1.programDescriptors(), 1);
    EXPECT_EQ(com2.programDescriptors(), 0);
    comm.setOutput(Line);
    EXPECT_EQ(com1.read(Line.size()), Line);
    EXPECT_EQ(com2.readAvailable(), QByteArray());

    selectPort(comm, 1); // again: closed and reopened, still one descriptor
    EXPECT_EQ(com1.programDescriptors(), 1);
    comm.setOutput(Line);
    EXPECT_EQ(com1.read(Line.size()), Line);
}

TEST(SerialLine, FailedOpensSayWhatFailedOnWhichDevice)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("ttyMISSING");
    const QString plainFile = dir.filePath("not-a-tty");
    QFile file(plainFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString home = QDir::currentPath();
    QDir::setCurrent(dir.path()); // "plc" is a file here, but a bare name means /dev/plc
    QFile(QStringLiteral("plc")).open(QIODevice::WriteOnly);

    const struct
    {
        const char *what;
        QString device;
        int number;
        QString says; // the full path that was tried, or why
    } rows[] = {
        {"missing device", missing, ENOENT, missing},
        {"regular file", plainFile, ENOTTY, plainFile},
        {"relative path", "./not-a-tty", ENOTTY, plainFile},
        {"bare name", "plc", ENOENT, "Kan /dev/plc niet openen: No such file or directory"},
        {"bare name of a file here", "plc", ENOENT, "bedoelt u ./plc?"},
        {"empty name", "", ErrorNumber::InvalidPropertyValue, "Geen apparaat opgegeven voor COM1"},
        {"pty master", "/dev/ptmx", ENOTTY, "/dev/ptmx niet openen: geen seriele lijn"},
        {"folder", dir.path(), EISDIR, "een map, geen apparaat"},
        {"own terminal", "/dev/tty", ENOTTY, "dit is uw eigen terminal"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        MsComm comm({{1, row.device}});
        const auto error = errorOf([&] { selectPort(comm, 1); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->number(), row.number) << qPrintable(errorText(error->error()));
        EXPECT_TRUE(errorText(error->error()).contains(row.says))
            << qPrintable(errorText(error->error()));
        EXPECT_FALSE(comm.portOpen());
    }
    QDir::setCurrent(home);

    // The terminal a program runs in is its own by any name, and is left as it was.
    PtyPair terminal;
    const termios before = terminal.settings();
    QProcess child;
    child.setChildProcessModifier([device = QFile::encodeName(terminal.deviceName())] {
        const int fd = ::setsid() < 0 ? -1 : ::open(device.constData(), O_RDWR);
        if (fd < 0 || ::ioctl(fd, TIOCSCTTY, 0) != 0)
            ::_exit(3);
    });
    child.start(QStringLiteral(DORQ_PORT_HOLDER), {terminal.deviceName()});
    ASSERT_TRUE(child.waitForFinished(5000)) << "it took its own terminal";
    EXPECT_EQ(child.readAllStandardError(), QByteArray::number(ENOTTY) + " tty\n");
    EXPECT_EQ(terminal.settings().c_cflag, before.c_cflag);
}

TEST(SerialLine, APortHeldByAnotherOpenIsBusy)
{
    PtyPair pty;
    MsComm holder({{1, pty.deviceName()}});
    // Named as users often do, without /dev/: the same device, the same lock.
    MsComm second({{1, pty.deviceName().mid(5)}});
    selectPort(holder, 1);
    const auto error = errorOf([&] { selectPort(second, 1); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), EBUSY) << qPrintable(errorText(error->error()));
    EXPECT_TRUE(errorText(error->error()).contains(pty.deviceName().mid(5)))
        << qPrintable(errorText(error->error()));
    EXPECT_FALSE(second.portOpen());
    EXPECT_TRUE(holder.portOpen());
    EXPECT_EQ(pty.programDescriptors(), 1);

    holder.setPortOpen(false);
    selectPort(second, 1); // free again
    EXPECT_TRUE(second.portOpen());
}

TEST(SerialLine, AHangUpClosesThePortAndIsReportedOnceWithoutSpinning)
{
    PtyPair pty;
    MsComm comm({{1, pty.deviceName()}});
    QSignalSpy lost(&comm, &MsComm::portLost);
    selectPort(comm, 1);

    pty.hangUp();
    EXPECT_TRUE(lost.wait(1000)) << "noticed while idle";
    const double cpu = cpuShareWhileRunning(500);
    EXPECT_EQ(lost.count(), 1);
    EXPECT_LT(cpu, 0.05);
    EXPECT_FALSE(comm.portOpen());
    EXPECT_EQ(pty.programDescriptors(), 0);
    const Error error = lost.first().at(0).value<Error>();
    EXPECT_EQ(error.number, EIO);
    EXPECT_EQ(error.kind, ErrorKind::Lost);
    EXPECT_EQ(error.path, pty.deviceName());

    const auto closed = errorOf([&] { comm.setOutput(Line); });
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->number(), ErrorNumber::PortNotOpen);
}

TEST(SerialLine, BytesFromTheFarEndAreDiscarded)
{
    PtyPair pty;
    MsComm comm({{1, pty.deviceName()}});
    selectPort(comm, 1);
    for (int i = 0; i < 64; ++i)
        pty.write(QByteArray(1024, 'x'));
    pty.readAvailable(100); // let the program take them in
    comm.setOutput(Line);
    EXPECT_EQ(pty.read(Line.size()), Line);
    EXPECT_TRUE(comm.portOpen());
}

TEST(SerialLine, APortLeftConfiguredByAKilledHolderOpensAgain)
{
    PtyPair pty;
    QProcess holder;
    holder.start(QStringLiteral(DORQ_PORT_HOLDER), {pty.deviceName()});
    ASSERT_TRUE(holder.waitForReadyRead(10000)) << qPrintable(holder.readAllStandardError());
    ASSERT_EQ(holder.readAllStandardOutput(), "open\n");
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(5000));
    ASSERT_TRUE(pty.settings().c_cflag & PARODD) << "the holder left its settings behind";
    // A pty keeps exclusive use past its holder, which only root could pass then.
    const auto exclusive = [&] {
        const int fd = ::open(QFile::encodeName(pty.deviceName()).constData(), O_RDWR | O_NOCTTY);
        int on = -1;
        EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &on), 0);
        ::close(fd);
        return on != 0;
    };
    EXPECT_FALSE(exclusive()) << "after a killed holder";

    MsComm comm({{1, pty.deviceName()}});
    selectPort(comm, 1);
    comm.setOutput(Line);
    EXPECT_EQ(pty.read(Line.size()), Line);
    comm.setPortOpen(false);
    EXPECT_FALSE(exclusive()) << "after a close";
}

namespace {

// The system as a real UART can be: taking only part of a line, and keeping output in its
// buffer so that the last close waits until it has left.
struct SteeredTty
{
    static inline int takeAtMost = -1; // bytes the next write takes, -1 for all of them
    static inline int failWith = 0;    // errno for every write from now on
    static inline std::atomic<bool> closeMayEnd{true};

    TtyCalls saved = ttyCalls();
    SteeredTty()
    {
        ttyCalls().write = [](int fd, const void *bytes, std::size_t size) -> ssize_t {
            if (failWith)
                return errno = failWith, -1;
            const std::size_t n = takeAtMost < 0 ? size : std::min(size, std::size_t(takeAtMost));
            takeAtMost = -1;
            return ::write(fd, bytes, n);
        };
        ttyCalls().queued = [](int) { return 100; };
        ttyCalls().close = [](int fd) {
            while (!closeMayEnd)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return ::close(fd);
        };
    }
    ~SteeredTty()
    {
        ttyCalls() = saved;
        takeAtMost = -1, failWith = 0, closeMayEnd = true;
    }
};

} // namespace

TEST(SerialLine, APartlyTakenLineIsCompletedBeforeTheNextAndNeverLeftHalf)
{
    PtyPair pty;
    SteeredTty tty;
    MsComm comm({{1, pty.deviceName()}});
    selectPort(comm, 1);
    SteeredTty::takeAtMost = 5;
    const auto partly = errorOf([&] { comm.setOutput(Line); });
    ASSERT_TRUE(partly);
    EXPECT_EQ(partly->error().kind, ErrorKind::NotTaken);
    EXPECT_TRUE(errorText(partly->error()).contains("maar 5 van de 16 bytes"))
        << qPrintable(errorText(partly->error()));
    EXPECT_TRUE(comm.portOpen());
    comm.setOutput("1  10:20:30.13\r\n"); // the rest goes first
    EXPECT_EQ(pty.read(32), Line + "1  10:20:30.13\r\n");

    SteeredTty::takeAtMost = 5;
    EXPECT_TRUE(errorOf([&] { comm.setOutput(Line); }));
    EXPECT_EQ(pty.read(16), Line) << "the rest followed as soon as the line had room";

    SteeredTty::takeAtMost = 5;
    errorOf([&] { comm.setOutput(Line); });
    comm.setPortOpen(false);
    EXPECT_EQ(pty.read(16), Line) << "the rest followed before the close";
    ASSERT_TRUE(waitForClosingPorts(5000));
    selectPort(comm, 1);

    SteeredTty::takeAtMost = 5;
    errorOf([&] { comm.setOutput(Line); });
    SteeredTty::failWith = EIO; // and then the line fails
    const auto failed = errorOf([&] { comm.setOutput(Line); });
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->number(), EIO) << qPrintable(errorText(failed->error()));
    EXPECT_FALSE(comm.portOpen());
}

TEST(SerialLine, AClosingPortWithOutputLeftIsNotReopenedUntilItIsDoneAndTheProgramWaitsForIt)
{
    PtyPair pty;
    SteeredTty tty;
    MsComm comm({{1, pty.deviceName()}});
    selectPort(comm, 1);
    comm.setOutput(Line);
    SteeredTty::closeMayEnd = false;
    QElapsedTimer closing;
    closing.start();
    const auto busy = errorOf([&] { selectPort(comm, 1); }); // closes, then opens again
    EXPECT_LT(closing.elapsed(), 100) << "the close went on elsewhere";
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->number(), EBUSY);
    EXPECT_TRUE(errorText(busy->error()).contains("de vorige regels"))
        << qPrintable(errorText(busy->error()));
    EXPECT_FALSE(waitForClosingPorts(50));
    SteeredTty::closeMayEnd = true;
    EXPECT_TRUE(waitForClosingPorts(5000));
    selectPort(comm, 1);
    EXPECT_TRUE(comm.portOpen());
    EXPECT_EQ(pty.read(16), Line);
}
