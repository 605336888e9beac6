#include "tty_linux.h"

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

// Who a process runs as, from the status every user may read.
struct ProcessIds
{
    long long uid = -1;       // -1 once it is gone
    QList<QByteArray> groups; // its group and its supplementary groups
};

ProcessIds processIds(long pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    ProcessIds ids;
    if (!status.open(QIODevice::ReadOnly))
        return ids;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool ok = false;
        if (line.startsWith("Uid:") && fields.size() > 1)
            ids.uid = fields[1].toLongLong(&ok);
        if (line.startsWith("Uid:") && !ok)
            ids.uid = -1;
        if (line.startsWith("Gid:") && fields.size() > 1)
            ids.groups << fields[1];
        if (line.startsWith("Groups:"))
            ids.groups << fields.mid(1);
    }
    return ids;
}

// Whether a process that runs as `ids` may open the device for reading and writing by its
// mode, as the kernel judges it: the owner's bits for its owner, the group's for a member.
bool mayOpen(const ProcessIds &ids, const struct stat &node)
{
    if (ids.uid == 0)
        return true;
    if (ids.uid == (long long)node.st_uid)
        return (node.st_mode & 0600) == 0600;
    if (ids.groups.contains(QByteArray::number(qulonglong(node.st_gid))))
        return (node.st_mode & 060) == 060;
    return (node.st_mode & 06) == 06;
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
// that process runs as the file's owner and that user may open the device, or when it is
// seen with the device open: a file naming a process that is gone, another user's, or one
// of a user who could not have used the device blocks no one, root included.
LockFileHolder lockFileHolder(int at, const struct stat &node)
{
    char name[4096];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(at);
    const ssize_t size = ::readlink(self.constData(), name, sizeof name);
    const QByteArray canonicalPath(name, int(size > 0 ? size : 0));
    if (!canonicalPath.startsWith("/dev/"))
        return {};
    const QString file = QStringLiteral("/run/lock/LCK..") +
                         QFile::decodeName(canonicalPath.mid(5)).replace(QLatin1Char('/'), '_');
    uid_t owner = 0;
    const long pid = readLockFile(QFile::encodeName(file), &owner).toLong();
    if (pid <= 0 || pid == ::getpid())
        return {};
    const ProcessIds ids = processIds(pid);
    LockFileHolder found;
    PortHolder &named = found.holder;
    named = processHolder(pid);
    named.lockFile = file;
    if (ids.uid < 0 ||
        ((ids.uid != (long long)owner || !mayOpen(ids, node)) && !holdsOpen(pid, node.st_rdev))) {
        found.why = ids.uid < 0 ? ErrorReason::ProcessGone : ErrorReason::NotBelievable;
        found.ignored = std::exchange(named, {});
    }
    return found;
}

Error lockFileNotice(const LockFileHolder &found, const QString &device)
{
    Error e;
    e.kind = ErrorKind::Busy;
    e.step = ErrorStep::LockFile;
    e.reason = found.why;
    e.path = device;
    e.holder = found.ignored.program;
    e.holderPid = found.ignored.pid;
    e.lockFile = found.ignored.lockFile;
    return e;
}

} // namespace dorq
