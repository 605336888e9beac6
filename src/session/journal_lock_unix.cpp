// Instances of the program that share a journal take turns with an advisory lock, so that a
// row is ended before another begins. Anyone who may read a file may lock it (`flock -s`):
// a lock of another user's is written past, so that no one else can stop the journal. Runs
// in the journal's writer process: system calls and the stack only.
#include "journal_writer_unix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace dorq {

namespace {

// Each whole line of a file of /proc, read into a buffer on the stack.
template <typename Line> void eachLine(const char *path, Line line)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    char buffer[4096];
    std::size_t have = 0;
    for (ssize_t n; (n = ::read(fd, buffer + have, sizeof buffer - 1 - have)) > 0;) {
        have += std::size_t(n);
        std::size_t start = 0;
        for (std::size_t i = 0; i < have; ++i)
            if (buffer[i] == '\n') {
                buffer[i] = '\0';
                line(buffer + start);
                start = i + 1;
            }
        std::memmove(buffer, buffer + start, have - start);
        have = have - start == sizeof buffer - 1 ? 0 : have - start; // a line past any use
    }
    ::close(fd);
}

// The next number in `text`, after blanks, in `base`; `text` moves past it.
unsigned long long number(const char *&text, int base)
{
    while (*text == ' ' || *text == '\t' || *text == ':')
        ++text;
    unsigned long long value = 0;
    for (;; ++text) {
        const char c = *text;
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : base;
        if (digit >= base)
            return value;
        value = value * unsigned(base) + unsigned(digit);
    }
}

// Whether the process runs as the user this program runs as.
bool ourUser(unsigned long long pid)
{
    char path[40] = "/proc/";
    char digits[24];
    int n = 0;
    do
        digits[n++] = char('0' + pid % 10);
    while ((pid /= 10) > 0);
    std::size_t at = std::strlen(path);
    while (n > 0)
        path[at++] = digits[--n];
    std::strcpy(path + at, "/status");
    bool ours = false;
    eachLine(path, [&ours](const char *line) {
        if (std::strncmp(line, "Uid:", 4) == 0)
            ours = number(line += 4, 10) == ::getuid();
    });
    return ours;
}

// Whether a process of another user holds a lock on the file: "1: FLOCK  ADVISORY  WRITE 1234
// 00:19:3 0 EOF" in /proc/locks, its device in hexadecimal and its inode; "1: -> FLOCK ..."
// for a lock still waited for.
bool heldByAnotherUser(int file)
{
    struct stat st = {};
    if (::fstat(file, &st) != 0)
        return false;
    bool another = false;
    eachLine("/proc/locks", [&](const char *line) {
        const char *at = std::strstr(line, "FLOCK");
        if (!at || std::strstr(line, "->"))
            return;
        for (int word = 0; word < 3; ++word) { // FLOCK ADVISORY WRITE
            while (*at && *at != ' ')
                ++at;
            while (*at == ' ')
                ++at;
        }
        const unsigned long long pid = number(at, 10);
        const unsigned long long major = number(at, 16), minor = number(at, 16);
        if (major == ::major(st.st_dev) && minor == ::minor(st.st_dev) &&
            number(at, 10) == st.st_ino && !ourUser(pid))
            another = true;
    });
    return another;
}

} // namespace

bool takeTurn(int file) noexcept
{
    for (;;) {
        if (::flock(file, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || heldByAnotherUser(file))
            return false;
        ::poll(nullptr, 0, 1); // our own kind: its row is on its way
    }
}

} // namespace dorq
