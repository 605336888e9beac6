#include "journal.h"

#include "error_words.h"
#include "failure.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace dorq {

// A file that only grows. Each append is one system call on a file opened for appending,
// so rows of several processes never interleave and nothing waits in the program.
class AppendFile
{
public:
    struct Error
    {
        int number = 0;
        QString text;
    };

#ifdef Q_OS_WIN
    static std::shared_ptr<AppendFile> open(const QString &path, bool &created, Error &error)
    {
        const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()),
                                       FILE_APPEND_DATA | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error = lastError();
            return nullptr;
        }
        created = ::GetLastError() != ERROR_ALREADY_EXISTS;
        return std::shared_ptr<AppendFile>(new AppendFile(h));
    }
    ~AppendFile()
    {
        ::CloseHandle(m_handle);
    }
    Error append(const QByteArray &bytes, qint64 &written)
    {
        DWORD done = 0;
        const bool ok =
            ::WriteFile(m_handle, bytes.constData(), DWORD(bytes.size()), &done, nullptr);
        written = done;
        return ok ? Error{} : lastError();
    }
    Error sync()
    {
        return ::FlushFileBuffers(m_handle) ? Error{} : lastError();
    }

private:
    explicit AppendFile(HANDLE h) : m_handle(h) {}
    static Error lastError()
    {
        const DWORD code = ::GetLastError();
        wchar_t *text = nullptr;
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
        const QString message = QString::fromWCharArray(text ? text : L"").trimmed();
        ::LocalFree(text);
        return {int(code), message};
    }
    HANDLE m_handle;
#else
    static std::shared_ptr<AppendFile> open(const QString &path, bool &created, Error &error)
    {
        const QByteArray name = QFile::encodeName(path);
        // Only the process that creates the file writes its header.
        int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST)
            fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) {
            error = lastError();
            return nullptr;
        }
        return std::shared_ptr<AppendFile>(new AppendFile(fd));
    }
    ~AppendFile()
    {
        ::close(m_fd);
    }
    Error append(const QByteArray &bytes, qint64 &written)
    {
        ssize_t n;
        do {
            n = ::write(m_fd, bytes.constData(), std::size_t(bytes.size()));
        } while (n < 0 && errno == EINTR);
        written = n < 0 ? 0 : n;
        return n < 0 ? lastError() : Error{};
    }
    Error sync()
    {
        // Devices and pipes cannot be synced, and need not be.
        if (::fdatasync(m_fd) == 0 || errno == EINVAL || errno == EROFS)
            return {};
        return lastError();
    }

private:
    explicit AppendFile(int fd) : m_fd(fd) {}
    static Error lastError()
    {
        const int e = errno;
        return {e, QString::fromLocal8Bit(std::strerror(e))};
    }
    int m_fd;
#endif
};

namespace {

using namespace std::chrono;

// RFC 4180: quoted when it holds a comma, a quote or a line break; quotes doubled.
QByteArray csvField(const QString &text)
{
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r'))
        field = '"' + field.replace("\"", "\"\"") + '"';
    return field;
}

QByteArray isoTime(const QDateTime &local, int microseconds)
{
    const int offset = local.offsetFromUtc() / 60;
    const QString zone = QStringLiteral("%1%2:%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(qAbs(offset) / 60, 2, 10, QLatin1Char('0'))
                             .arg(qAbs(offset) % 60, 2, 10, QLatin1Char('0'));
    return (local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.")) +
            QStringLiteral("%1").arg(microseconds, 6, 10, QLatin1Char('0')) + zone)
        .toLatin1();
}

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

const QByteArray Journal::Header = "time,run,seq,channel,record,port,device,result\r\n";

std::unique_ptr<Journal> Journal::toFile(const QString &path)
{
    std::unique_ptr<Journal> journal(new Journal(path, false));
    journal->fileFor(QDate::currentDate());
    if (!journal->m_file)
        throw Failure(journal->m_openError, journal->m_openErrorText);
    return journal;
}

std::unique_ptr<Journal> Journal::daily(const QString &directory)
{
    return std::unique_ptr<Journal>(new Journal(directory, true));
}

QString Journal::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString Journal::dailyName(const QDate &date)
{
    return date.toString(QStringLiteral("'journal-'yyyy-MM-dd'.csv'"));
}

Journal::Journal(QString path, bool daily)
    : m_path(std::move(path)), m_daily(daily),
      m_run(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-")) +
            QString::number(QCoreApplication::applicationPid())),
      m_syncer([this] { syncLoop(); })
{
}

Journal::~Journal()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_syncer.join();
    for (const auto &file : m_dirty)
        file->sync();
}

std::shared_ptr<AppendFile> Journal::fileFor(const QDate &day)
{
    if (m_file && (!m_daily || day == m_day))
        return m_file;
    QString path = m_path;
    if (m_daily) {
        QDir().mkpath(m_path);
        path = QDir(m_path).filePath(dailyName(day));
    }
    bool created = false;
    AppendFile::Error error;
    m_file = AppendFile::open(path, created, error);
    m_day = day;
    if (!m_file) {
        m_openError = error.number;
        m_openErrorText =
            QStringLiteral("Kan het journaal %1 niet openen: %2").arg(path, error.text);
        return nullptr;
    }
    m_brokenRow = false;
    if (created) {
        qint64 written = 0;
        m_file->append(Header, written);
    }
    return m_file;
}

void Journal::pressed(const PressResult &result)
{
    const qint64 us = duration_cast<microseconds>(result.at.time_since_epoch()).count();
    const qint64 seconds = us >= 0 ? us / 1000000 : (us - 999999) / 1000000;
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    ++m_seq;

    const std::shared_ptr<AppendFile> file = fileFor(local.date());
    if (!file) {
        failed(m_openError, m_openErrorText);
        return;
    }
    QByteArray row;
    row.reserve(160);
    if (m_brokenRow)
        row += "\r\n"; // ends the row a short write cut off, so this one stands whole
    row += isoTime(local, int(us - seconds * 1000000)) + ',' + m_run.toLatin1() + ',' +
           QByteArray::number(m_seq) + ',' + QByteArray(result.record.data(), 1) + ',' +
           QByteArray::fromStdString(result.record) + ',' +
           (result.port ? "COM" + QByteArray::number(result.port) : QByteArray()) + ',' +
           csvField(result.device) + ',' + csvField(resultText(result)) + "\r\n";

    // One write; should the system take only part (a disk filling up), the rest follows at
    // once or the system says why.
    qint64 done = 0;
    AppendFile::Error error;
    while (done < row.size() && !error.number) {
        qint64 written = 0;
        error = file->append(done ? row.mid(done) : row, written);
        if (!error.number && written == 0)
            error = {EIO, QStringLiteral("niets geschreven")};
        done += written;
    }
    if (error.number) {
        m_brokenRow = m_brokenRow || done > 0; // the file now ends in the middle of a row
        failed(error.number,
               QStringLiteral("Kan niet in het journaal %1 schrijven: %2")
                   .arg(m_daily ? QDir(m_path).filePath(dailyName(m_day)) : m_path, error.text));
        return;
    }
    m_brokenRow = false;
    int syncError = 0;
    QString syncText;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_dirty.insert(file);
        std::swap(syncError, m_syncError);
        std::swap(syncText, m_syncErrorText);
    }
    m_wake.notify_one();
    if (syncError) {
        failed(syncError, syncText);
        return;
    }
    m_failing = false;
}

void Journal::failed(int number, const QString &text)
{
    if (m_failing)
        return;
    m_failing = true;
    if (m_reporter)
        m_reporter->report(number, text);
}

// At most one sync a second, never on the thread that handles presses.
void Journal::syncLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait(lock, [this] { return m_stopping || !m_dirty.empty(); });
        if (m_stopping)
            break;
        const auto files = std::exchange(m_dirty, {});
        lock.unlock();
        for (const auto &file : files) {
            const AppendFile::Error error = file->sync();
            if (error.number) {
                const std::lock_guard<std::mutex> relock(m_mutex);
                m_syncError = error.number;
                m_syncErrorText = QStringLiteral("Kan het journaal niet naar schijf schrijven: %1")
                                      .arg(error.text);
            }
        }
        lock.lock();
        m_wake.wait_for(lock, seconds(1), [this] { return m_stopping; });
    }
}

} // namespace dorq
