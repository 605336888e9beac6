#include "journal.h"

#include <QCoreApplication>
#include <QDateTime>

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

bool Journal::finish()
{
    for (auto &file : m_earlier)
        m_whole = file->finish() && m_whole;
    if (m_file)
        m_whole = m_file->finish() && m_whole;
    return m_whole;
}

JournalFile *Journal::fileFor(const QDate &day)
{
    if (m_file && (!m_daily || day == m_day))
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
        m_whole = (*file)->finish() && m_whole;
        file = m_earlier.erase(file);
    }
    ++m_seq;
    const auto seconds = std::chrono::floor<std::chrono::seconds>(row.at.time_since_epoch());
    JournalFile *file = fileFor(QDateTime::fromSecsSinceEpoch(seconds.count()).date());
    if (!file)
        return failed(m_openFailure);
    file->append(csvRow(row, m_run, m_seq));
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
