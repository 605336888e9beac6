#include "journal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <algorithm>

namespace dorq {

std::unique_ptr<Journal> Journal::toFile(const QString &path, Error *failure)
{
    return toNativeFile(nativePath(path), failure);
}

std::unique_ptr<Journal> Journal::toNativeFile(const QByteArray &path, Error *failure)
{
    std::unique_ptr<Journal> journal(new Journal(path, false));
    if (journal->fileFor(QDate::currentDate()))
        return journal;
    if (failure)
        *failure = journal->m_openFailure;
    return nullptr;
}

std::unique_ptr<Journal> Journal::daily(const QString &directory, Error *failure)
{
    std::unique_ptr<Journal> journal(new Journal(nativePath(directory), true));
    QByteArray failedAt;
    bool untrusted = false;
    if (const int error = makeFolders(journal->m_path, failedAt, untrusted)) {
        if (failure)
            *failure = journalError(ErrorStep::JournalFolder,
                                    untrusted ? ErrorKind::Untrusted : ErrorKind::Other,
                                    untrusted ? 0 : error, failedAt);
        return nullptr;
    }
    return journal;
}

QString Journal::dailyName(const QDate &date)
{
    return date.toString(QStringLiteral("'journal-'yyyy-MM-dd'.csv'"));
}

Journal::Journal(QByteArray path, bool daily)
    : m_path(std::move(path)), m_daily(daily),
      m_run(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-")) +
            QString::number(QCoreApplication::applicationPid()))
{
}

Journal::~Journal()
{
    finish();
}

void Journal::closeInput()
{
    if (m_file)
        m_file->closeInput();
}

bool Journal::ended()
{
    for (auto &file : m_earlier)
        if (!file->ended())
            return false;
    return !m_file || m_file->ended();
}

bool Journal::finish(int ms)
{
    if (std::exchange(m_finished, true))
        return m_whole && m_lost == 0;
    QElapsedTimer clock;
    clock.start();
    closeInput();
    const auto left = [&] { return int(std::max<qint64>(0, ms - clock.elapsed())); };
    for (auto &file : m_earlier)
        file->finish(left());
    if (m_file)
        m_file->finish(left());
    if (!m_waiting.empty()) // none should be left: the files settle all they were given
        settled(m_waiting.begin()->first, m_waiting.rbegin()->first, 0);
    return m_whole && m_lost == 0;
}

std::optional<Error> Journal::loss() const
{
    if (m_lost == 0)
        return std::nullopt;
    Error e = journalError(ErrorStep::JournalWrite, ErrorKind::Lost, 0, m_path);
    e.reason = ErrorReason::Unconfirmed;
    e.rows = m_lost;
    if (m_firstLost) {
        e.firstRecord = m_firstLost->second;
        e.lastRecord = m_lastLost->second;
    }
    return e;
}

JournalFile *Journal::fileFor(const QDate &day)
{
    // A writer that has ended on its own (killed, say) is replaced by a new one.
    if (m_file && (!m_daily || day == m_day) && !m_file->ended())
        return m_file.get();
    QByteArray path = m_path;
    if (m_daily) {
        QByteArray failedAt;
        bool untrusted = false;
        if (const int error = makeFolders(m_path, failedAt, untrusted)) {
            m_openFailure = journalError(ErrorStep::JournalFolder,
                                         untrusted ? ErrorKind::Untrusted : ErrorKind::Other,
                                         untrusted ? 0 : error, failedAt);
            return nullptr;
        }
        path = m_path + '/' + nativePath(dailyName(day));
    }
    auto file = JournalFile::open(path, *this, m_openFailure);
    if (!file)
        return nullptr;
    if (m_file) {
        m_file->closeInput(); // yesterday's writer ends on its own
        m_earlier.push_back(std::move(m_file));
    }
    m_file = std::move(file);
    m_day = day;
    return m_file.get();
}

void Journal::append(const JournalRow &row)
{
    // A day gone by keeps nothing of the program's once its rows are done.
    for (auto file = m_earlier.begin(); file != m_earlier.end();) {
        if (!(*file)->ended()) {
            ++file;
            continue;
        }
        (*file)->finish(0);
        file = m_earlier.erase(file);
    }
    const qint64 seq = ++m_seq;
    m_waiting[seq] = {QString::fromStdString(row.record), row.result == QLatin1String("sent")};
    const auto seconds = std::chrono::floor<std::chrono::seconds>(row.at.time_since_epoch());
    JournalFile *file = fileFor(QDateTime::fromSecsSinceEpoch(seconds.count()).date());
    if (!file) {
        settled(seq, seq, 0);
        return failed(m_openFailure);
    }
    file->append(csvRow(row, m_run, seq), seq);
}

void Journal::settled(qint64 first, qint64 last, qint64 written)
{
    const auto from = m_waiting.lower_bound(first), to = m_waiting.upper_bound(last);
    const qint64 rows = qint64(std::distance(from, to));
    if (written > 0)
        m_failing = false; // rows go through (again)
    if (written < rows) {
        // When only some were written, which ones is not known: all are named as lost.
        m_lost += rows - written;
        for (auto row = from; row != to; ++row) {
            if (!row->second.sent)
                continue;
            if (!m_firstLost || row->first < m_firstLost->first)
                m_firstLost = {row->first, row->second.record};
            if (!m_lastLost || row->first > m_lastLost->first)
                m_lastLost = {row->first, row->second.record};
        }
    }
    m_waiting.erase(from, to);
}

void Journal::failed(const Error &failure)
{
    if (failure.kind != ErrorKind::Replaced) {
        m_whole = false;
        if (std::exchange(m_failing, true))
            return;
    }
    if (m_onFailure)
        m_onFailure(failure);
}

} // namespace dorq
