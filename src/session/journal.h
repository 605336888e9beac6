#pragma once

#include "press_result.h"
#include "reporter.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace dorq {

class AppendFile;

// Evidence of every press, sent or not: one CSV row per press appended to a file, each row
// handed to the system with one write before the press returns, the file synced to disk
// within a second by a thread of its own, so that a slow disk delays no press.
class Journal
{
public:
    static const QByteArray Header; // "time,run,seq,channel,record,port,device,result"

    // Appends to `path`, created if missing. Throws Failure when it cannot be opened.
    static std::unique_ptr<Journal> toFile(const QString &path);
    // A file per day in `directory`, journal-2026-12-07.csv, created when first needed.
    static std::unique_ptr<Journal> daily(const QString &directory);
    static QString defaultDirectory();
    static QString dailyName(const QDate &date);

    ~Journal(); // syncs what was written

    // Failures are told once, and again only after a row has been written in between.
    void setReporter(ErrorReporter *reporter) { m_reporter = reporter; }
    void pressed(const PressResult &result);
    QString runId() const { return m_run; }

private:
    Journal(QString path, bool daily);
    std::shared_ptr<AppendFile> fileFor(const QDate &day);
    void failed(int number, const QString &text);
    void syncLoop();

    QString m_path; // the file, or the directory of a daily journal
    bool m_daily;
    QString m_run;
    qint64 m_seq = 0;
    QDate m_day;
    std::shared_ptr<AppendFile> m_file;
    bool m_brokenRow = false; // a short write left a row without its end
    bool m_failing = false;
    int m_openError = 0;
    QString m_openErrorText;
    ErrorReporter *m_reporter = nullptr;

    std::mutex m_mutex; // guards what the sync thread shares
    std::condition_variable m_wake;
    std::set<std::shared_ptr<AppendFile>> m_dirty;
    int m_syncError = 0;
    QString m_syncErrorText;
    bool m_stopping = false;
    std::thread m_syncer;
};

} // namespace dorq
