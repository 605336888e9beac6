#pragma once

#include "error.h"
#include "journal_row.h"
#include "press_result.h"
#include "system.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace dorq {

// What a journal file could not do, as the journal's Error: the path as people read it.
inline Error journalError(ErrorStep step, ErrorKind kind, int number, const QByteArray &path)
{
    Error e;
    e.step = step;
    e.kind = kind;
    e.number = number;
    e.systemText = systemText(number);
    e.path = displayPath(path);
    return e;
}

// Hears how the rows of a journal file fare, on the thread that appends them.
class JournalFileListener
{
public:
    virtual ~JournalFileListener() = default;
    virtual void failed(const Error &failure) = 0;
    // The rows appended with ids `first` to `last` that were still waiting are done, and
    // `written` of them are in the file; the others are not.
    virtual void settled(qint64 first, qint64 last, qint64 written) = 0;
};

// One journal file, appended to in each platform's own way. A row is handed over at once;
// the disk is waited for elsewhere, so that no press waits for it.
class JournalFile
{
public:
    // Null, and `failure` says why, when the file cannot be opened.
    static std::unique_ptr<JournalFile> open(const QByteArray &path, JournalFileListener &listener,
                                             Error &failure);
    virtual ~JournalFile() = default; // finishes, waiting a few seconds at most

    // `id` names the row when it is settled; ids grow.
    virtual void append(const QByteArray &row, qint64 id) = 0;
    // No more rows; those waiting still go, and the file finishes on its own.
    virtual void closeInput() = 0;
    // Waits at most `ms` for every row to be written and synced; rows still waiting then are
    // settled as not written.
    virtual void finish(int ms) = 0;
    // Whether finish() would return at once: the rows are settled and nothing will be heard
    // of this file any more. Before closeInput(), only when the file has failed for good.
    virtual bool ended() = 0;
};

// Evidence of every press, sent or not: one CSV row per press appended to a file, handed
// over before the press returns, written and synced where no press waits for the disk.
// Every row is accounted for: written, or counted as lost.
class Journal : private JournalFileListener
{
public:
    // How long the end waits for the last rows, when nothing cuts it short.
    static constexpr int FinishMs = 3000;
    // How long it waits when a signal ends the run, which must end within 100 ms.
    static constexpr int SignalFinishMs = 25;

    // Appends to `path`, created if missing; null, with `failure` set, when it cannot.
    static std::unique_ptr<Journal> toFile(const QString &path, Error *failure = nullptr);
    // The path as the system spells it, byte for byte.
    static std::unique_ptr<Journal> toNativeFile(const QByteArray &path, Error *failure = nullptr);
    // A file per day in `directory`, made when first needed; the folder is made now: null,
    // with `failure` set, when it cannot be.
    static std::unique_ptr<Journal> daily(const QString &directory, Error *failure = nullptr);
    // journal-2026-12-07.csv
    static QString dailyName(const QDate &date);

    ~Journal() override; // finishes, waiting FinishMs at most

    // Failures are told once, and again only after a row has gone through in between.
    // A file found deleted or replaced, and opened anew, is told each time.
    using FailureHandler = std::function<void(const Error &)>;
    void onFailure(FailureHandler handler) { m_onFailure = std::move(handler); }

    void append(const JournalRow &row);
    void pressed(const PressResult &result) { append(journalRow(result)); }
    // No more rows: the files finish on their own.
    void closeInput();
    // Whether every row is settled and the files have finished (finish() returns at once).
    bool ended();
    // Waits at most `ms` for every row to be written and synced: true when none was lost and
    // nothing failed. Rows not written by then count as lost.
    bool finish(int ms = FinishMs);
    // The rows not written, as one Error (kind Lost): how many, and the first and last
    // record of those answered sent. None when every row was written.
    std::optional<Error> loss() const;
    QString runId() const { return m_run; }

private:
    Journal(QByteArray path, bool daily);
    JournalFile *fileFor(const QDate &day);
    void failed(const Error &failure) override;
    void settled(qint64 first, qint64 last, qint64 written) override;

    struct Waiting
    {
        QString record;
        bool sent;
    };

    QByteArray m_path; // the file, or the folder of a daily journal
    bool m_daily;
    QString m_run;
    qint64 m_seq = 0;
    QDate m_day;
    std::unique_ptr<JournalFile> m_file;
    std::vector<std::unique_ptr<JournalFile>> m_earlier; // days gone by, still finishing
    std::map<qint64, Waiting> m_waiting;                 // by seq: rows not settled yet
    qint64 m_lost = 0;
    std::optional<std::pair<qint64, QString>> m_firstLost, m_lastLost; // of those sent
    Error m_openFailure;
    bool m_failing = false;
    bool m_whole = true;
    bool m_finished = false;
    FailureHandler m_onFailure;
};

} // namespace dorq
