// Paths walked one folder at a time, so that as root no other user's folder or link leads
// a name elsewhere: everything up to the last open runs on descriptors, not on names.
#include "system.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorq {

namespace {

bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == ::getuid();
}

// A folder whose entries only root or the user can change; or one that all may write but
// where only an entry's owner may change it (sticky, such as /tmp): there only the entries
// of root's or the user's count.
enum class Folder { Trusted, Shared, Untrusted };

Folder judge(const struct stat &st)
{
    if (!trustedOwner(st.st_uid))
        return Folder::Untrusted;
    if (!(st.st_mode & S_IWOTH) && !((st.st_mode & S_IWGRP) && st.st_gid != 0))
        return Folder::Trusted;
    return st.st_mode & S_ISVTX ? Folder::Shared : Folder::Untrusted;
}

class Walk
{
public:
    // `check`: judge every step (root); otherwise the walk is only the way there.
    Walk(bool check, bool make) : m_check(check), m_make(make) {}
    ~Walk()
    {
        if (m_folder >= 0)
            ::close(m_folder);
    }
    Walk(const Walk &) = delete;

    // Walks to the folder that holds the last part of `path`, following links on the way,
    // and the last one too when `followLast`. Its name is left in name(): "." when the path
    // ends in a folder. False with errno set.
    bool toLast(const char *path, bool followLast)
    {
        if (!*path)
            return fail(ENOENT);
        std::size_t length = std::strlen(path);
        if (*path != '/') { // the working folder's way is walked too
            if (!::getcwd(m_rest, PATH_MAX))
                return fail(errno);
            const std::size_t cwd = std::strlen(m_rest);
            if (cwd + 1 + length >= sizeof m_rest)
                return fail(ENAMETOOLONG);
            m_rest[cwd] = '/';
            std::memcpy(m_rest + cwd + 1, path, length + 1);
        } else {
            if (length >= sizeof m_rest)
                return fail(ENAMETOOLONG);
            std::memcpy(m_rest, path, length + 1);
        }
        if (!enter(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)))
            return false;
        char *at = m_rest;
        for (int links = 0;;) {
            while (*at == '/')
                ++at;
            if (!*at) {
                std::strcpy(m_name, ".");
                return true;
            }
            char *end = std::strchr(at, '/');
            const std::size_t size = end ? std::size_t(end - at) : std::strlen(at);
            if (size > NAME_MAX)
                return fail(ENAMETOOLONG);
            std::memcpy(m_name, at, size);
            m_name[size] = '\0';
            at += size;
            const bool last = !end; // "a/b/" ends in the folder b: b is not the last part
            if (last && !followLast)
                return true;
            struct stat st = {};
            if (::fstatat(m_folder, m_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT && last)
                    return true; // to be made
                if (errno != ENOENT || !m_make || ::mkdirat(m_folder, m_name, 0700) != 0 ||
                    ::fstatat(m_folder, m_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    return fail(errno);
            }
            if (!entryTrusted(st))
                return refuse();
            if (S_ISLNK(st.st_mode)) {
                if (++links > 40)
                    return fail(ELOOP);
                if (!followLink(at))
                    return false;
                at = m_rest;
                continue;
            }
            if (last)
                return true;
            const int next =
                ::openat(m_folder, m_name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            struct stat opened = {};
            if (next >= 0 && (::fstat(next, &opened) != 0 || opened.st_ino != st.st_ino ||
                              opened.st_dev != st.st_dev)) {
                ::close(next); // changed between the look and the open
                return refuse();
            }
            if (!enter(next))
                return false;
        }
    }

    // The last part opened as `flags` say, never through a link.
    int openLast(int flags, unsigned mode)
    {
        const int fd = ::openat(m_folder, m_name, flags | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
        if (fd < 0) {
            if (errno == ELOOP && !(flags & O_NOFOLLOW) && m_check)
                refuse(); // a link laid down since it was looked at
            return -1;
        }
        struct stat st = {};
        if (::fstat(fd, &st) != 0 || !entryTrusted(st)) {
            ::close(fd);
            refuse();
            return -1;
        }
        return fd;
    }

    int folder() const { return m_folder; }
    const char *name() const { return m_name; }
    bool untrusted() const { return m_untrusted; }

private:
    bool fail(int error)
    {
        errno = error;
        return false;
    }
    bool refuse()
    {
        m_untrusted = true;
        return fail(EACCES);
    }

    // An entry of the folder we are in: in a shared folder, only the owners we trust.
    bool entryTrusted(const struct stat &st) const
    {
        if (!m_check)
            return true;
        if (S_ISLNK(st.st_mode) && !trustedOwner(st.st_uid))
            return false;
        return m_kind != Folder::Shared || trustedOwner(st.st_uid);
    }

    bool enter(int fd)
    {
        if (fd < 0)
            return fail(errno);
        struct stat st = {};
        if (m_folder >= 0)
            ::close(m_folder);
        m_folder = fd;
        if (::fstat(fd, &st) != 0)
            return fail(errno);
        m_kind = judge(st);
        return !m_check || m_kind != Folder::Untrusted || refuse();
    }

    // The link m_name, in the folder we are in, put in front of what is left to walk.
    bool followLink(const char *rest)
    {
        char target[PATH_MAX];
        const ssize_t size = ::readlinkat(m_folder, m_name, target, sizeof target);
        if (size < 0)
            return fail(errno);
        const std::size_t left = std::strlen(rest);
        if (std::size_t(size) >= sizeof target || std::size_t(size) + 1 + left >= sizeof m_rest)
            return fail(ENAMETOOLONG);
        std::memmove(m_rest + size, rest, left + 1);
        std::memcpy(m_rest, target, std::size_t(size));
        return target[0] != '/' || enter(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }

    bool m_check;
    bool m_make;
    bool m_untrusted = false;
    int m_folder = -1;
    Folder m_kind = Folder::Trusted;
    char m_name[NAME_MAX + 1] = {};
    char m_rest[2 * PATH_MAX] = {};
};

} // namespace

int openTrusted(const char *path, int flags, unsigned mode, bool &untrusted) noexcept
{
    untrusted = false;
    if (::geteuid() != 0)
        return ::open(path, flags, mode_t(mode));
    Walk walk(true, false);
    const int fd = walk.toLast(path, !(flags & O_NOFOLLOW)) ? walk.openLast(flags, mode) : -1;
    untrusted = walk.untrusted();
    return fd;
}

int makeFolders(const QByteArray &folder, QByteArray &failedAt, bool &untrusted)
{
    untrusted = false;
    if (folder.isEmpty())
        return 0;
    Walk walk(::geteuid() == 0, true);
    if (walk.toLast((folder + '/').constData(), true))
        return 0;
    const int error = errno;
    untrusted = walk.untrusted();
    failedAt = folder;
    return error;
}

FileAccess readWholeFile(const QString &path, QByteArray &contents)
{
    contents.clear();
    bool untrusted = false;
    // Without blocking: a FIFO nobody writes would hold the start.
    const int fd =
        openTrusted(nativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0, untrusted);
    if (fd < 0)
        return {untrusted         ? FileAccess::Untrusted
                : errno == ENOENT ? FileAccess::Missing
                                  : FileAccess::Failed,
                untrusted ? 0 : errno};
    struct stat st = {};
    FileAccess result;
    if (::fstat(fd, &st) != 0)
        result = {FileAccess::Failed, errno};
    else if (!S_ISREG(st.st_mode))
        result = {FileAccess::NotAFile, 0};
    for (char buffer[4096]; result.result == FileAccess::Done;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result = {FileAccess::Failed, errno};
        if (n <= 0)
            break;
        contents.append(buffer, n);
    }
    ::close(fd);
    return result;
}

FileAccess replaceFile(const QString &path, const QByteArray &contents)
{
    const QByteArray file = nativePath(path);
    const qsizetype slash = file.lastIndexOf('/');
    QByteArray failedAt;
    bool untrusted = false;
    if (slash > 0)
        if (const int error = makeFolders(file.left(slash), failedAt, untrusted))
            return {untrusted ? FileAccess::Untrusted : FileAccess::Failed, error};
    // The folder of the file itself, where a link of the user's own leads.
    Walk walk(::geteuid() == 0, false);
    if (!walk.toLast(file.constData(), true))
        return {walk.untrusted() ? FileAccess::Untrusted : FileAccess::Failed, errno};
    const QByteArray name = walk.name();
    const QByteArray temporary = '.' + name + '.' + QByteArray::number(::getpid());
    ::unlinkat(walk.folder(), temporary.constData(), 0); // left by a run that was killed
    const int fd = ::openat(walk.folder(), temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return {FileAccess::Failed, errno};
    int error = 0;
    for (qsizetype done = 0; done < contents.size() && !error;) {
        const ssize_t n =
            ::write(fd, contents.constData() + done, std::size_t(contents.size() - done));
        if (n < 0 && errno != EINTR)
            error = errno;
        done += n > 0 ? n : 0;
    }
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error &&
        ::renameat(walk.folder(), temporary.constData(), walk.folder(), name.constData()) != 0)
        error = errno;
    if (error)
        ::unlinkat(walk.folder(), temporary.constData(), 0);
    return {error ? FileAccess::Failed : FileAccess::Done, error};
}

} // namespace dorq
