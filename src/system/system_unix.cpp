#include "system.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <cerrno>
#include <climits>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorq {

Platform platform()
{
    return Platform::Linux;
}

std::tm toLocalTime(std::time_t t)
{
    std::tm local{};
    ::localtime_r(&t, &local);
    return local;
}

QString systemText(int number)
{
    return number ? QString::fromLocal8Bit(std::strerror(number)) : QString();
}

int lastFileError()
{
    return errno ? errno : EIO;
}

void clearFileError()
{
    errno = 0;
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString displayPath(const QByteArray &path)
{
    return QFile::decodeName(path);
}

void writeStandardError(const QString &lines)
{
    // Made at first use and never ended: a program that ends with a message waits for it,
    // up to a point, but never for a reader that has stopped.
    static OutputThread *const standardError = new OutputThread(STDERR_FILENO, 1 << 20);
    if (standardError->add(lines.toLocal8Bit()) && !standardError->stuck(100))
        standardError->waitWritten(100);
}

PortMap defaultPortMap()
{
    return {{1, QStringLiteral("/dev/ttyS0")}, {2, QStringLiteral("/dev/ttyS1")}};
}

QStringList exampleDevices()
{
    return {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/pts/3")};
}

QString devicePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return name;
    if (name.startsWith(QLatin1String("./")) || name.startsWith(QLatin1String("../")))
        return QFileInfo(name).absoluteFilePath();
    return QStringLiteral("/dev/") + name;
}

QString fileMeantBy(const QString &name)
{
    const bool bare = devicePath(name) == QStringLiteral("/dev/") + name;
    return bare && QFileInfo::exists(name) ? QStringLiteral("./") + name : QString();
}

QList<SystemPort> systemPorts()
{
    // A USB adapter keeps its name under /dev/serial/by-id when it is plugged into another
    // socket; ttyUSB0 may become ttyUSB1.
    const QFileInfoList byId = QDir(QStringLiteral("/dev/serial/by-id"))
                                   .entryInfoList(QDir::System | QDir::NoDotAndDotDot);
    QList<SystemPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SystemPort port{info.systemLocation(),
                        {},
                        info.description(),
                        info.manufacturer(),
                        info.serialNumber()};
        for (const QFileInfo &link : byId)
            if (link.canonicalFilePath() == info.systemLocation())
                port.path = link.absoluteFilePath();
        if (port.path != info.systemLocation())
            port.portName = info.portName();
        ports << port;
    }
    return ports;
}

QString defaultJournalFolder()
{
    // Without HOME, Qt would make it "//.local/share": the account's own home instead.
    if (qEnvironmentVariableIsEmpty("HOME") && qEnvironmentVariableIsEmpty("XDG_DATA_HOME")) {
        if (const passwd *user = ::getpwuid(::getuid()); user && user->pw_dir && *user->pw_dir)
            return QDir(QFile::decodeName(user->pw_dir))
                .filePath(QStringLiteral(".local/share/dorq-pulse"));
    }
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

int makeFolders(const QByteArray &folder, QByteArray &failedAt)
{
    struct stat st = {};
    if (folder.isEmpty() || ::stat(folder.constData(), &st) == 0)
        return 0;
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0) {
        if (const int error = makeFolders(folder.left(slash), failedAt))
            return error;
    }
    if (::mkdir(folder.constData(), 0755) == 0 || errno == EEXIST)
        return 0;
    failedAt = folder;
    return errno;
}

namespace {

// Writable by someone other than root: its owner, a group with members, or everyone.
bool othersCanWrite(const struct stat &folder)
{
    return folder.st_uid != 0 || (folder.st_mode & S_IWOTH) ||
           ((folder.st_mode & S_IWGRP) && folder.st_gid != 0);
}

} // namespace

PathTrust pathTrust(const char *path) noexcept
{
    if (::geteuid() != 0)
        return PathTrust::Follow;
    char folder[PATH_MAX];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof folder)
        return PathTrust::Refuse;
    std::memcpy(folder, path, length + 1);
    char *slash = std::strrchr(folder, '/');
    if (!slash)
        std::strcpy(folder, ".");
    else
        slash[slash == folder ? 1 : 0] = '\0';

    struct stat folderStat = {}, fileStat = {};
    const bool openFolder = ::stat(folder, &folderStat) != 0 || othersCanWrite(folderStat);
    if (::lstat(path, &fileStat) == 0 && S_ISLNK(fileStat.st_mode) &&
        (fileStat.st_uid != 0 || openFolder))
        return PathTrust::Refuse;
    return openFolder ? PathTrust::NoFollow : PathTrust::Follow;
}

} // namespace dorq
