#include "journal_place.h"

#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorq {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString displayPath(const QByteArray &path)
{
    return QFile::decodeName(path);
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

int makeJournalFolder(const QByteArray &folder, QByteArray &failedAt)
{
    struct stat st = {};
    if (folder.isEmpty() || ::stat(folder.constData(), &st) == 0)
        return 0;
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0) {
        if (const int error = makeJournalFolder(folder.left(slash), failedAt))
            return error;
    }
    if (::mkdir(folder.constData(), 0755) == 0 || errno == EEXIST)
        return 0;
    failedAt = folder;
    return errno;
}

QString systemText(int number)
{
    return number ? QString::fromLocal8Bit(std::strerror(number)) : QString();
}

} // namespace dorq
