#include "journal.h"

#include "error_words.h"
#include "journal_messages.h"
#include "journal_place.h"

#include <QCoreApplication>
#include <QDateTime>

namespace dorq {

namespace {

QString resultText(const PressResult &r)
{
    switch (r.outcome) {
    case PressResult::Outcome::Sent:
        return QStringLiteral("sent");
    case PressResult::Outcome::NoPort:
        return QStringLiteral("no port");
    case PressResult::Outcome::Failed:
        break;
    }
    return QStringLiteral("error %1: %2").arg(r.error->number).arg(errorText(*r.error));
}

} // namespace

JournalOpenError::JournalOpenError(const JournalFailure &f)
    : Failure(f.number, journalFailureText(f)), failure(f)
{
}

std::unique_ptr<Journal> Journal::toFile(const QString &path)
{
    return toNativeFile(nativePath(path));
}

std::unique_ptr<Journal> Journal::toNativeFile(const QByteArray &path)
{
    std::unique_ptr<Journal> journal(new Journal(path, false));
    if (!journal->fileFor(QDate::currentDate()))
        throw JournalOpenError(journal->m_openFailure);
    return journal;
}

std::unique_ptr<Journal> Journal::daily(const QString &directory)
{
    return std::unique_ptr<Journal>(new Journal(nativePath(directory), true));
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
        if (const int error = makeJournalFolder(m_path, failedAt)) {
            m_openFailure = {JournalFailure::What::MakeFolder, error, systemText(error), failedAt};
            return nullptr;
        }
        path = m_path + '/' + nativePath(dailyJournalName(day));
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

void Journal::pressed(const PressResult &result)
{
    append({result.at, result.record, result.port, result.device, resultText(result)});
}

void Journal::append(const JournalRow &row)
{
    ++m_seq;
    const auto seconds = std::chrono::floor<std::chrono::seconds>(row.at.time_since_epoch());
    JournalFile *file = fileFor(QDateTime::fromSecsSinceEpoch(seconds.count()).date());
    if (!file)
        return failed(m_openFailure);
    file->append(csvRow(row, m_run, m_seq));
}

void Journal::failed(const JournalFailure &failure)
{
    if (failure.what != JournalFailure::What::Replaced) {
        m_whole = false;
        if (std::exchange(m_failing, true))
            return;
    }
    if (m_onFailure)
        m_onFailure(failure);
}

} // namespace dorq
