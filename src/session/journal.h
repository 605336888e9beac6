#pragma once

#include "journal_file.h"
#include "journal_row.h"
#include "press_result.h"

#include <QDate>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace dorq {

// Evidence of every press, sent or not: one CSV row per press appended to a file, handed
// over before the press returns, written and synced where no press waits for the disk.
class Journal : private JournalFileListener
{
public:
    // Appends to `path`, created if missing; null, with `failure` set, when it cannot.
    static std::unique_ptr<Journal> toFile(const QString &path, Error *failure = nullptr);
    // The path as the system spells it, byte for byte.
    static std::unique_ptr<Journal> toNativeFile(const QByteArray &path, Error *failure = nullptr);
    // A file per day in `directory`, made when first needed; the folder is made now: null,
    // with `failure` set, when it cannot be.
    static std::unique_ptr<Journal> daily(const QString &directory, Error *failure = nullptr);
    // journal-2026-12-07.csv
    static QString dailyName(const QDate &date);

    ~Journal() override; // finishes

    // Failures are told once, and again only after a row has gone through in between.
    // A file found deleted or replaced, and opened anew, is told each time.
    using FailureHandler = std::function<void(const Error &)>;
    void onFailure(FailureHandler handler) { m_onFailure = std::move(handler); }

    void append(const JournalRow &row);
    void pressed(const PressResult &result) { append(journalRow(result)); }
    // Waits for every row to be written and synced: true when none was lost.
    bool finish();
    QString runId() const { return m_run; }

private:
    Journal(QByteArray path, bool daily);
    JournalFile *fileFor(const QDate &day);
    void failed(const Error &failure) override;
    void written() override { m_failing = false; }

    QByteArray m_path; // the file, or the folder of a daily journal
    bool m_daily;
    QString m_run;
    qint64 m_seq = 0;
    QDate m_day;
    std::unique_ptr<JournalFile> m_file;
    std::vector<std::unique_ptr<JournalFile>> m_earlier; // days gone by, still finishing
    Error m_openFailure;
    bool m_failing = false;
    bool m_whole = true;
    FailureHandler m_onFailure;
};

} // namespace dorq
