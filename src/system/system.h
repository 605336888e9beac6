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
// calls), and back for people. On Unix a byte that is no part of valid UTF-8 stands in the
// text as U+DC80 to U+DCFF, so that a name read from the command line reaches the system
// unchanged.
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
// Makes `folder` and the folders above it, new ones for the user alone (on Unix 0700): 0,
// or the system's error and the folder it could not make. As root, `untrusted` is set when
// the way there passes a folder or link that another user could change (see openTrusted).
int makeFolders(const QByteArray &folder, QByteArray &failedAt, bool &untrusted);

// A small file of the user's own, such as the settings, read whole and replaced whole:
// without waiting on a FIFO, and as root only along a way no other user can change.
struct FileAccess
{
    enum Result { Done, Missing, NotAFile, Untrusted, Failed } result = Done;
    int error = 0; // the system's, for Failed
};
FileAccess readWholeFile(const QString &path, QByteArray &contents);
// A new file beside it, renamed over it, so that nothing is written through a link; the
// folders are made where missing.
FileAccess replaceFile(const QString &path, const QByteArray &contents);

#ifdef Q_OS_UNIX
// Opens `path` as open(2) does. As root it goes one step at a time from /: every folder and
// link on the way must be root's (or the running user's) and writable by no one else, and in
// a folder that all may write but only owners may change (the sticky /tmp) only an entry of
// root's or the user's counts, so that no other user's folder or link can lead it elsewhere,
// not even by a swap between the check and the use; a final link is followed only where
// `flags` allow it. -1 with errno set on failure, and `untrusted` set when a step was
// refused. System calls and the stack only, so that a forked child may call it.
int openTrusted(const char *path, int flags, unsigned mode, bool &untrusted) noexcept;

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
