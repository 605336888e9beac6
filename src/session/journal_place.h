#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

namespace dorq {

// Where journal files go.

// A path as the system takes it (bytes on Unix, kept exactly; UTF-8 for Windows' wide
// calls), and back for messages.
QByteArray nativePath(const QString &path);
QString displayPath(const QByteArray &path);

// A file per day: journal-2026-12-07.csv.
QString dailyJournalName(const QDate &date);
// The user's data folder for the program, also when HOME is not set.
QString defaultJournalFolder();
// Makes `folder` and the folders above it: 0, or the system's error and the folder it
// could not make.
int makeJournalFolder(const QByteArray &folder, QByteArray &failedAt);
// The system's own words for an error number of its file calls: errno, or GetLastError.
QString systemText(int number);

} // namespace dorq
