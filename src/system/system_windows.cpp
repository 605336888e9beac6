#include "system.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <windows.h>

namespace dorq {

Platform platform()
{
    return Platform::Windows;
}

std::tm toLocalTime(std::time_t t)
{
    std::tm local{};
    ::localtime_s(&local, &t);
    return local;
}

QString systemText(int number)
{
    if (number == 0)
        return {};
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(number), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString words = QString::fromWCharArray(text, int(length)).trimmed();
    ::LocalFree(text);
    return words.isEmpty() ? QStringLiteral("Windows %1").arg(number) : words;
}

int lastFileError()
{
    const DWORD error = ::GetLastError();
    return error ? int(error) : ERROR_GEN_FAILURE;
}

void clearFileError()
{
    ::SetLastError(0);
}

QByteArray nativePath(const QString &path)
{
    return path.toUtf8();
}

QString displayPath(const QByteArray &path)
{
    return QString::fromUtf8(path);
}

void writeStandardError(const QString &lines)
{
    const QByteArray bytes = lines.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

PortMap defaultPortMap()
{
    return {{1, QStringLiteral("COM1")}, {2, QStringLiteral("COM2")}};
}

QStringList exampleDevices()
{
    return {QStringLiteral("COM5"), QStringLiteral("\\\\.\\COM10")};
}

QString devicePath(const QString &name)
{
    return name;
}

QString fileMeantBy(const QString &)
{
    return {};
}

QList<SystemPort> systemPorts()
{
    // "COM3" is how Windows users and programs name a port.
    QList<SystemPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports << SystemPort{
            info.portName(), {}, info.description(), info.manufacturer(), info.serialNumber()};
    return ports;
}

QString defaultJournalFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

int makeFolders(const QByteArray &folder, QByteArray &failedAt, bool &untrusted)
{
    // Windows has no root whose rights a planted link could borrow in this way: an
    // administrator's programs follow the access rules of each file.
    untrusted = false;
    const QString name = QString::fromUtf8(folder);
    if (name.isEmpty() || ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(name.utf16())) !=
                              INVALID_FILE_ATTRIBUTES)
        return 0;
    const qsizetype slash = std::max(folder.lastIndexOf('/'), folder.lastIndexOf('\\'));
    if (slash > 0) {
        if (const int error = makeFolders(folder.left(slash), failedAt, untrusted))
            return error;
    }
    if (::CreateDirectoryW(reinterpret_cast<const wchar_t *>(name.utf16()), nullptr) ||
        ::GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    failedAt = folder;
    return int(::GetLastError());
}

FileAccess readWholeFile(const QString &path, QByteArray &contents)
{
    QFile file(path);
    if (!file.exists())
        return {FileAccess::Missing, 0};
    if (!QFileInfo(path).isFile())
        return {FileAccess::NotAFile, 0};
    if (!file.open(QIODevice::ReadOnly))
        return {FileAccess::Failed, int(::GetLastError())};
    contents = file.readAll();
    return {};
}

FileAccess replaceFile(const QString &path, const QByteArray &contents)
{
    QByteArray failedAt;
    bool untrusted = false;
    if (const int error =
            makeFolders(QFileInfo(path).absolutePath().toUtf8(), failedAt, untrusted))
        return {FileAccess::Failed, error};
    const QString copy = path + QStringLiteral(".new");
    QFile file(copy);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(contents) != contents.size() || !file.flush())
        return {FileAccess::Failed, int(::GetLastError())};
    file.close();
    const auto wide = [](const QString &name) {
        return reinterpret_cast<const wchar_t *>(name.utf16());
    };
    if (!::MoveFileExW(wide(copy), wide(path), MOVEFILE_REPLACE_EXISTING)) {
        const int error = int(::GetLastError());
        QFile::remove(copy);
        return {FileAccess::Failed, error};
    }
    return {};
}

} // namespace dorq
