#include "system.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pwd.h>
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

namespace {

constexpr char16_t EscapedByte = 0xdc00; // U+DC80..U+DCFF: the byte 0x80..0xff itself

// The length of the valid UTF-8 sequence at `p`, 0 when there is none.
int utf8Length(const unsigned char *p, qsizetype left)
{
    const auto follows = [&](int n, unsigned char low = 0x80, unsigned char high = 0xbf) {
        if (left < n + 1 || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i <= n; ++i)
            if ((p[i] & 0xc0) != 0x80)
                return false;
        return true;
    };
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    if (c >= 0xc2 && c <= 0xdf)
        return follows(1) ? 2 : 0;
    if (c >= 0xe0 && c <= 0xef)
        return follows(2, c == 0xe0 ? 0xa0 : 0x80, c == 0xed ? 0x9f : 0xbf) ? 3 : 0;
    if (c >= 0xf0 && c <= 0xf4)
        return follows(3, c == 0xf0 ? 0x90 : 0x80, c == 0xf4 ? 0x8f : 0xbf) ? 4 : 0;
    return 0;
}

bool isEscapedByte(QChar c)
{
    return c.unicode() >= EscapedByte + 0x80 && c.unicode() <= EscapedByte + 0xff;
}

} // namespace

QByteArray nativePath(const QString &path)
{
    if (std::none_of(path.begin(), path.end(), isEscapedByte))
        return QFile::encodeName(path);
    QByteArray bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !isEscapedByte(path[i]))
            continue;
        bytes += QFile::encodeName(path.mid(from, i - from));
        if (i < path.size())
            bytes += char(path[i].unicode() - EscapedByte);
        from = i + 1;
    }
    return bytes;
}

QString displayPath(const QByteArray &path)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(path.constData());
    QString text;
    qsizetype from = 0;
    for (qsizetype i = 0; i < path.size();) {
        const int length = utf8Length(bytes + i, path.size() - i);
        if (length) {
            i += length;
            continue;
        }
        text += QString::fromUtf8(path.mid(from, i - from)) + QChar(EscapedByte + bytes[i]);
        from = ++i;
    }
    return text + QString::fromUtf8(path.mid(from));
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

} // namespace dorq
