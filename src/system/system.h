#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <ctime>
#include <memory>

// What the system the program runs on gives it: time, paths, device names, its own words for
// its error numbers. One source file per platform.
namespace dorq {

enum class Platform { Linux, Windows };
Platform platform();

// The local calendar's date and time of `t`, by the platform's thread-safe call.
std::tm toLocalTime(std::time_t t);

// The system's own words for an error number of its calls: errno, or GetLastError. Empty
// for 0.
QString systemText(int number);
// The number the system gave for the file operation that just failed, and forgetting it.
int lastFileError();
void clearFileError();

// A path as the system takes it (bytes on Unix, kept exactly; UTF-8 for Windows' wide
// calls), and back for people.
QByteArray nativePath(const QString &path);
QString displayPath(const QByteArray &path);

// Writes whole lines to standard error, for people; the one place the program does. A
// standard error nobody reads holds up no caller for long: what it cannot take waits, up to
// a limit, and then is dropped.
void writeStandardError(const QString &lines);

// Port number to device name: 1 -> "/dev/ttyS0" and so on.
using PortMap = QMap<int, QString>;
PortMap defaultPortMap();
// Devices a user of this platform would name, for examples: "/dev/ttyUSB0", "/dev/pts/3".
QStringList exampleDevices();
// Where the system finds a device name: on Unix a bare name such as "ttyUSB0" or "pts/3" is
// under /dev, "./x" and "../x" are relative to the working directory, "/..." is a path.
QString devicePath(const QString &name);
// A file the user probably meant by a device name that was not found: on Unix "./plc" when
// "plc" was looked for in /dev but lies right here. Empty when there is none.
QString fileMeantBy(const QString &name);

// A serial port the system reports, with what the system knows of it.
struct SystemPort
{
    QString path;     // what to open: a name that stays with the device where there is one
    QString portName; // the system's short name, where it differs from the path
    QString description;
    QString manufacturer;
    QString serialNumber;
};
QList<SystemPort> systemPorts();

// The user's data folder for the program, also when HOME is not set.
QString defaultJournalFolder();
// Makes `folder` and the folders above it: 0, or the system's error and the folder it
// could not make.
int makeFolders(const QByteArray &folder, QByteArray &failedAt);

// Whether a program running as root may open a path that another user could have laid
// out for it: a link to a file of root's, planted where the user can write. An ordinary
// user can reach through a link only what that user may reach anyway: always Follow.
enum class PathTrust {
    Follow,   // open as usual
    NoFollow, // the folder is writable by others: open without following a final link
    Refuse,   // a link owned by another user, or lying in a folder others can write
};
// System calls and the stack only, so that a forked child may call it.
PathTrust pathTrust(const char *path) noexcept;

#ifdef Q_OS_UNIX
struct OutputState;

// Bytes for a descriptor whose reader may stop taking them (a pipe or FIFO nobody reads, a
// pty whose write waits although poll said there was room): a thread of its own writes them,
// so that only that thread waits. Dropped, it leaves a write in progress to the thread, which
// ends once the write returns; an ending program does not wait for it.
class OutputThread
{
public:
    // At most `limit` bytes wait; 0 for no limit.
    explicit OutputThread(int fd, qsizetype limit = 0);
    ~OutputThread();
    OutputThread(const OutputThread &) = delete;
    OutputThread &operator=(const OutputThread &) = delete;

    // False when the bytes were dropped: the limit is reached, or the descriptor failed.
    bool add(const QByteArray &bytes);
    // Bytes added and not yet written.
    qsizetype waiting() const;
    // The descriptor refused a write (EPIPE: its reader has gone).
    bool failed() const;
    // Waits until every byte added is written, at most `ms`: true when nothing is left to
    // wait for (all written, or the descriptor failed).
    bool waitWritten(int ms);
    // Whether the last write has been under way for long: a reader that stopped reading.
    bool stuck(int ms) const;
    // Readable after each write that finished or failed (an event counter), for a notifier
    // on the caller's own thread; take() empties it.
    int progressFd() const;
    void take();

private:
    std::shared_ptr<OutputState> m_state;
};
#endif

} // namespace dorq
