#include "port_holder_linux.h"

#include <QFile>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace dorq {

namespace {

PortHolder processHolder(long pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    PortHolder holder;
    holder.pid = pid;
    if (comm.open(QIODevice::ReadOnly))
        holder.program = QString::fromLocal8Bit(comm.readAll().trimmed());
    return holder;
}

// The real user a process runs as, from the status every user may read; -1 once it is gone.
long long processUid(long pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        bool ok = false;
        const long long uid = line.mid(4).simplified().split(' ').value(0).toLongLong(&ok);
        return ok ? uid : -1;
    }
    return -1;
}

// Whether the process has the device open, where its descriptors are ours to see.
bool holdsOpen(long pid, dev_t device)
{
    const QByteArray folder = "/proc/" + QByteArray::number(qlonglong(pid)) + "/fd";
    DIR *fds = ::opendir(folder.constData());
    if (!fds)
        return false;
    bool found = false;
    while (const dirent *entry = ::readdir(fds)) {
        struct stat st = {};
        if (::fstatat(::dirfd(fds), entry->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == device) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

// The lock file's first line, when it is a plain file: a planted FIFO would block the read.
QByteArray readLockFile(const QByteArray &path, uid_t *owner)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st = {};
    char text[64] = {};
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    *owner = st.st_uid;
    return n > 0 ? QByteArray(text, int(n)).split('\n').value(0).trimmed() : QByteArray();
}

} // namespace

PortHolder flockHolder(const QByteArray &path)
{
    struct stat st = {};
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
// the process named in the file lives. Anyone may write such a file, so it counts only when
// that process runs as the file's owner or is seen with the device open: a file naming a
// process that is gone, or another user's, blocks no one, root included.
PortHolder lockFileHolder(const QString &canonicalPath, dev_t device)
{
    if (!canonicalPath.startsWith(QLatin1String("/dev/")))
        return {};
    const QString file = QStringLiteral("/run/lock/LCK..") +
                         canonicalPath.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    uid_t owner = 0;
    const long pid = readLockFile(QFile::encodeName(file), &owner).toLong();
    if (pid <= 0 || pid == ::getpid())
        return {};
    const long long uid = processUid(pid);
    if (uid < 0 || (uid != (long long)owner && !holdsOpen(pid, device)))
        return {};
    PortHolder holder = processHolder(pid);
    holder.lockFile = file;
    return holder;
}

} // namespace dorq
