#include "journal_writer_unix.h"

#include "journal_row.h"
#include "system.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace dorq {

namespace {

struct Writer
{
    int rows;
    int reports;
    int file;
    const char *path;
    bool failing = false;
    bool lost = false;
    bool dirty = false;
    bool programGone = false;
    std::int64_t taken = 0;
    std::int64_t written = 0;
    std::int64_t told = -1; // `taken` as last told
    timespec lastSync = {};
};

// Room for a whole message behind the start of the next.
char buffer[2 * (MaxJournalRow + 4)];
constexpr const char *Header = JournalHeader;
constexpr std::size_t HeaderSize = sizeof JournalHeader - 1;

// `surely`: waits for room, so that the program learns where a run of rows that fared alike
// ends; a mere progress report is dropped when the program is not reading, as the next one
// says it too. A program that has gone is told nothing more, and the rows still go on.
void tell(Writer &w, WriterReport::Kind kind, int number, bool surely = true)
{
    const WriterReport report{kind, number, w.taken, w.written};
    for (pollfd room{w.reports, POLLOUT, 0}; !w.programGone; ::poll(&room, 1, -1)) {
        const ssize_t n = ::write(w.reports, &report, sizeof report);
        if (n == sizeof report)
            return void(w.told = w.taken);
        const bool full = n < 0 && (errno == EAGAIN || errno == EINTR);
        w.programGone = !full;
        if (!surely && full)
            return;
    }
}

// One row done. A change from writing to failing or back is told, not every row.
void rowDone(Writer &w, int error, WriterReport::Kind failedAs = WriterReport::WriteFailed)
{
    w.lost = w.lost || error;
    const bool change = w.failing != (error != 0);
    if (change && w.told != w.taken)
        tell(w, WriterReport::Progress, 0); // where the run before this row ends
    ++w.taken;
    w.written += !error;
    w.failing = error != 0;
    if (change)
        tell(w, error ? failedAs : WriterReport::Progress, error);
}

int writeAll(int fd, iovec *parts, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, parts, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        // Taken in part (a disk filling up): the rest follows at once, or the system says why.
        std::size_t done = std::size_t(n);
        for (; count > 0 && done >= parts->iov_len; ++parts, --count)
            done -= parts->iov_len;
        if (count > 0) {
            parts->iov_base = static_cast<char *>(parts->iov_base) + done;
            parts->iov_len -= done;
        }
    }
    return 0;
}

// What goes before a row: the header in an empty file (or the rest of a cut one), a line
// break after a row that a full disk cut short, here or in another instance.
iovec prefixFor(int fd, off_t size)
{
    static char head[HeaderSize];
    if (size == 0)
        return {const_cast<char *>(Header), HeaderSize};
    if (size < off_t(HeaderSize) && ::pread(fd, head, std::size_t(size), 0) == size &&
        std::memcmp(head, Header, std::size_t(size)) == 0)
        return {const_cast<char *>(Header) + size, HeaderSize - std::size_t(size)};
    char last = '\n'; // unreadable: a file opened for writing only stays as it is
    if (::pread(fd, &last, 1, size - 1) == 1 && last != '\n')
        return {const_cast<char *>("\r\n"), 2};
    return {nullptr, 0};
}

void append(Writer &w, char *row, std::size_t size, bool reopened = false)
{
    struct stat byFd = {}, byPath = {};
    if (::fstat(w.file, &byFd) != 0)
        return rowDone(w, errno);
    if (!S_ISREG(byFd.st_mode)) { // a device such as /dev/null
        iovec part{row, size};
        return rowDone(w, writeAll(w.file, &part, 1));
    }
    const bool locked = takeTurn(w.file);
    if (!reopened && (::stat(w.path, &byPath) != 0 || byPath.st_dev != byFd.st_dev ||
                      byPath.st_ino != byFd.st_ino)) {
        // Deleted or replaced: rows would go where nobody looks.
        WriterReport why{};
        const int fd = openJournalFd(w.path, why);
        if (locked)
            ::flock(w.file, LOCK_UN);
        if (fd < 0)
            return rowDone(w, why.number ? why.number : EINVAL, WriterReport::Kind(why.kind));
        ::close(w.file);
        w.file = fd;
        tell(w, WriterReport::Replaced, 0);
        return append(w, row, size, true);
    }
    ::fstat(w.file, &byFd); // now that no other instance writes
    iovec parts[2] = {prefixFor(w.file, byFd.st_size), {row, size}};
    const int error = writeAll(w.file, parts, 2);
    if (locked)
        ::flock(w.file, LOCK_UN);
    w.dirty = true;
    rowDone(w, error);
}

double msSince(const timespec &then)
{
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec - then.tv_sec) * 1e3 + double(now.tv_nsec - then.tv_nsec) / 1e6;
}

void sync(Writer &w)
{
    // Devices cannot be synced, and need not be.
    if (::fdatasync(w.file) != 0 && errno != EINVAL && errno != EROFS) {
        w.lost = true;
        tell(w, WriterReport::SyncFailed, errno);
    }
    w.dirty = false;
    ::clock_gettime(CLOCK_MONOTONIC, &w.lastSync);
}

// close_range where the kernel has it (5.9 on), one close at a time where it does not.
void closeRange(unsigned from, unsigned to)
{
    if (::close_range(from, to, 0) == 0)
        return;
    rlimit limit{};
    const unsigned most = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                              ? unsigned(limit.rlim_cur)
                              : 65536;
    for (unsigned fd = from; fd <= to && fd < most; ++fd)
        ::close(int(fd));
}

// Only its own three descriptors stay open, and /dev/null as standard ones: an inherited
// end of another pipe would keep a reader of the program waiting for this child.
Writer keepOnly(int rows, int reports, int file, const char *path)
{
    int keep[3] = {rows, reports, file};
    for (int &fd : keep)
        if (fd < 3)
            fd = ::fcntl(fd, F_DUPFD, 3);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
        if (null != fd)
            ::dup2(null, fd);
    Writer w{keep[0], keep[1], keep[2], path};
    std::sort(keep, keep + 3);
    unsigned from = 3;
    for (const int fd : keep) {
        if (unsigned(fd) > from)
            closeRange(from, unsigned(fd) - 1);
        from = unsigned(fd) + 1;
    }
    closeRange(from, ~0U);
    return w;
}

} // namespace

int openJournalFd(const char *path, WriterReport &why) noexcept
{
    const auto refuse = [&why](int fd, WriterReport::Kind kind, int number = 0) {
        if (fd >= 0)
            ::close(fd);
        why = {kind, number, 0, 0};
        return -1;
    };
    // Without blocking: a FIFO nobody reads would hold the program at its start.
    const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK;
    bool untrusted = false;
    int fd = openTrusted(path, O_RDWR | flags, 0600, untrusted);
    if (fd < 0 && errno == EACCES && !untrusted)
        fd = openTrusted(path, O_WRONLY | flags, 0600, untrusted);
    struct stat st = {};
    if (fd < 0 && untrusted)
        return refuse(fd, WriterReport::Untrusted, errno);
    if (fd < 0) {
        const int error = errno;
        const bool file = ::stat(path, &st) != 0 || S_ISREG(st.st_mode) || S_ISCHR(st.st_mode);
        return file ? refuse(fd, WriterReport::OpenFailed, error)
                    : refuse(fd, WriterReport::NotAFile);
    }
    if (::fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)))
        return refuse(fd, WriterReport::NotAFile);
    // As root, rows appended to another user's file would be theirs to doctor.
    if (::geteuid() == 0 && S_ISREG(st.st_mode) && st.st_uid != 0 && st.st_uid != ::getuid())
        return refuse(fd, WriterReport::NotOwned);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void runJournalWriter(int rows, int reports, int file, const char *path) noexcept
{
    // It drains what the program left, whatever ended the program; a file size limit is
    // a failed write, not an end.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ})
        ::sigaction(signal, &ignore, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    Writer w = keepOnly(rows, reports, file, path);

    std::size_t have = 0;
    for (;;) {
        const double sinceSync = msSince(w.lastSync);
        if (w.dirty && sinceSync >= 1000) // at most once a second
            sync(w);
        pollfd ready{w.rows, POLLIN, 0};
        const int waited =
            ::poll(&ready, 1, w.dirty ? int(std::max(0.0, 1000 - sinceSync)) + 1 : -1);
        if (waited <= 0)
            continue;
        const ssize_t n = ::read(w.rows, buffer + have, sizeof buffer - have);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break; // every writer of the pipe has gone
        have += std::size_t(n);
        std::size_t at = 0;
        std::uint32_t size = 0;
        while (have - at >= 4 && (std::memcpy(&size, buffer + at, 4), have - at - 4 >= size)) {
            append(w, buffer + at + 4, size);
            at += 4 + size;
        }
        std::memmove(buffer, buffer + at, have - at);
        have -= at;
        if (w.told != w.taken)
            tell(w, WriterReport::Progress, 0, false);
    }
    if (have) // a row cut off in the pipe: the program died in the middle of writing it
        w.lost = true;
    if (w.told != w.taken)
        tell(w, WriterReport::Progress, 0);
    if (w.dirty)
        sync(w);
    ::_exit(w.lost ? 1 : 0);
}

} // namespace dorq
