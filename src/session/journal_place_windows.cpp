#include "journal_place.h"

#include <QStandardPaths>
#include <algorithm>
#include <windows.h>

namespace dorq {

QByteArray nativePath(const QString &path)
{
    return path.toUtf8();
}

QString displayPath(const QByteArray &path)
{
    return QString::fromUtf8(path);
}

QString defaultJournalFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

int makeJournalFolder(const QByteArray &folder, QByteArray &failedAt)
{
    const QString name = QString::fromUtf8(folder);
    if (name.isEmpty() || ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(name.utf16())) !=
                              INVALID_FILE_ATTRIBUTES)
        return 0;
    const qsizetype slash = std::max(folder.lastIndexOf('/'), folder.lastIndexOf('\\'));
    if (slash > 0) {
        if (const int error = makeJournalFolder(folder.left(slash), failedAt))
            return error;
    }
    if (::CreateDirectoryW(reinterpret_cast<const wchar_t *>(name.utf16()), nullptr) ||
        ::GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    failedAt = folder;
    return int(::GetLastError());
}

QString systemText(int code)
{
    wchar_t *text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, DWORD(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = QString::fromWCharArray(text ? text : L"").trimmed();
    ::LocalFree(text);
    return message;
}

} // namespace dorq
