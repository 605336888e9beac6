#include "journal.h"
#include "journal_writer_unix.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dorq {

namespace {

// Rows that the pipe cannot take wait here, this many bytes at most (some 16,000 rows, as
// many again as the pipe holds); a row beyond that is lost and counted, never waited for.
constexpr qsizetype MaxWaiting = 2 << 20;

// What the writer reported, as the journal's Error.
Error reported(const WriterReport &r, const QByteArray &path)
{
    switch (r.kind) {
    case WriterReport::OpenFailed:
        return journalError(ErrorStep::JournalOpen, ErrorKind::Other, r.number, path);
    case WriterReport::Untrusted:
        return journalError(ErrorStep::JournalOpen, ErrorKind::Untrusted, r.number, path);
    case WriterReport::NotOwned: {
        Error e = journalError(ErrorStep::JournalOpen, ErrorKind::Untrusted, 0, path);
        e.reason = ErrorReason::OthersFile;
        return e;
    }
    case WriterReport::NotAFile:
        return journalError(ErrorStep::JournalOpen, ErrorKind::NotAFile, 0, path);
    case WriterReport::SyncFailed:
        return journalError(ErrorStep::JournalSync, ErrorKind::Other, r.number, path);
    case WriterReport::Replaced:
        return journalError(ErrorStep::JournalWrite, ErrorKind::Replaced, 0, path);
    }
    return journalError(ErrorStep::JournalWrite, ErrorKind::Other, r.number, path);
}

Error lost(ErrorReason reason, const QByteArray &path)
{
    Error e = journalError(ErrorStep::JournalWrite, ErrorKind::Lost, 0, path);
    e.reason = reason;
    return e;
}

// Rows go through a pipe to a writer process of their own: the press only hands its row
// to the kernel, whose pipe outlives this program, and the writer alone waits for the disk.
// When the writer falls behind (a hung disk, a writer stopped) and the pipe is full, rows
// wait in memory, up to a bound, and go as the pipe has room: a press never waits.
class WriterProcessFile : public JournalFile
{
public:
    WriterProcessFile(pid_t writer, int rows, int reports, QByteArray path,
                      JournalFileListener &listener)
        : m_writer(writer), m_rows(rows), m_reports(reports), m_path(std::move(path)),
          m_listener(listener),
          m_reportsNotifier(std::make_unique<QSocketNotifier>(reports, QSocketNotifier::Read)),
          m_roomNotifier(std::make_unique<QSocketNotifier>(rows, QSocketNotifier::Write))
    {
        QObject::connect(m_reportsNotifier.get(), &QSocketNotifier::activated,
                         m_reportsNotifier.get(), [this] { readReports(); });
        m_roomNotifier->setEnabled(false);
        QObject::connect(m_roomNotifier.get(), &QSocketNotifier::activated, m_roomNotifier.get(),
                         [this] { sendWaiting(); });
    }
    ~WriterProcessFile() override { finish(0); }

    void append(const QByteArray &row, qint64 id) override
    {
        const auto size = std::uint32_t(row.size());
        const QByteArray message = QByteArray(reinterpret_cast<const char *>(&size), 4) + row;
        if (m_rows < 0 || row.size() > qsizetype(MaxJournalRow) ||
            m_end - m_sent + message.size() > MaxWaiting) {
            m_listener.settled(id, id, 0);
            return m_listener.failed(
                m_rows < 0 ? lost(ErrorReason::WriterGone, m_path)
                : row.size() > qsizetype(MaxJournalRow)
                    ? journalError(ErrorStep::JournalWrite, ErrorKind::Other, EMSGSIZE, m_path)
                    : lost(ErrorReason::WriterBehind, m_path));
        }
        m_waiting += message;
        m_end += message.size();
        m_queued.push_back({id, m_end});
        sendWaiting();
    }

    void closeInput() override
    {
        m_closing = true;
        if (m_sent == m_end)
            closeRows();
    }

    void finish(int ms) override
    {
        if (std::exchange(m_finished, true))
            return;
        QElapsedTimer clock;
        clock.start();
        closeInput();
        // The rows still waiting go first, as far as the writer takes them in time; then
        // the writer's word that it wrote them, and its end (a last sync).
        while (!ended() && !clock.hasExpired(ms)) {
            pollfd ready[2] = {{m_reports, POLLIN, 0}, {m_rows, POLLOUT, 0}};
            ::poll(ready, 2, int(std::clamp<qint64>(ms - clock.elapsed(), 0, 10)));
            if (ready[1].revents)
                sendWaiting();
        }
        // Rows not confirmed by now: the writer may yet write them, but nobody can say so.
        loseRest();
        closeRows();
        closeReports();
    }

    bool ended() override
    {
        if (m_reports >= 0)
            readReports();
        if (m_writer > 0 && m_reports < 0) {
            const pid_t reaped = ::waitpid(m_writer, nullptr, WNOHANG);
            if (reaped == m_writer || (reaped < 0 && errno == ECHILD))
                m_writer = 0;
        }
        return m_writer <= 0 && m_reports < 0;
    }

private:
    void sendWaiting()
    {
        while (m_sent < m_end && m_rows >= 0) {
            const ssize_t n = ::write(m_rows, m_waiting.constData() + (m_sent - m_base),
                                      std::size_t(m_end - m_sent));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return writerEnded(); // no reader: the writer is gone
            if (n < 0)
                break;
            m_sent += n;
            for (; !m_queued.empty() && m_queued.front().second <= m_sent; m_queued.pop_front())
                m_inPipe.push_back(m_queued.front().first);
        }
        if (m_sent - m_base > (m_sent == m_end ? 0 : 1 << 20)) {
            m_waiting.remove(0, m_sent - m_base);
            m_base = m_sent;
        }
        if (m_roomNotifier)
            m_roomNotifier->setEnabled(m_sent < m_end);
        if (m_closing && m_sent == m_end)
            closeRows();
    }

    void readReports()
    {
        WriterReport reports[64];
        ssize_t n;
        while ((n = ::read(m_reports, reports, sizeof reports)) > 0) {
            for (std::size_t i = 0; i < std::size_t(n) / sizeof *reports; ++i) {
                const WriterReport &r = reports[i];
                settle(r.taken, r.written);
                if (r.kind != WriterReport::Progress)
                    m_listener.failed(reported(r, m_path));
            }
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            writerEnded();
    }

    // The writer's running counts: the rows it has taken since the last report are done.
    void settle(qint64 taken, qint64 written)
    {
        const qint64 rows = std::min<qint64>(taken - m_taken, qint64(m_inPipe.size()));
        if (rows <= 0)
            return;
        const qint64 first = m_inPipe.front(), last = m_inPipe[std::size_t(rows - 1)];
        m_inPipe.erase(m_inPipe.begin(), m_inPipe.begin() + rows);
        const qint64 newlyWritten = written - m_written;
        m_taken = taken;
        m_written = written;
        m_listener.settled(first, last, newlyWritten);
    }

    // The writer has ended, or has been killed: what it did not confirm is not in the file.
    void writerEnded()
    {
        closeReports();
        const bool midRun = !m_closing && !(m_inPipe.empty() && m_queued.empty());
        loseRest();
        m_closing = true;
        closeRows();
        if (midRun)
            m_listener.failed(lost(ErrorReason::WriterGone, m_path));
    }

    void loseRest()
    {
        if (m_inPipe.empty() && m_queued.empty())
            return;
        const qint64 first = m_inPipe.empty() ? m_queued.front().first : m_inPipe.front();
        const qint64 last = m_queued.empty() ? m_inPipe.back() : m_queued.back().first;
        m_inPipe.clear();
        m_queued.clear();
        m_waiting.clear();
        m_sent = m_base = m_end;
        m_listener.settled(first, last, 0);
    }

    void closeRows()
    {
        m_roomNotifier.reset();
        if (m_rows >= 0)
            ::close(m_rows);
        m_rows = -1;
    }

    void closeReports()
    {
        m_reportsNotifier.reset();
        if (m_reports >= 0)
            ::close(m_reports);
        m_reports = -1;
    }

    pid_t m_writer;
    int m_rows;
    int m_reports;
    QByteArray m_path;
    JournalFileListener &m_listener;
    std::unique_ptr<QSocketNotifier> m_reportsNotifier;
    std::unique_ptr<QSocketNotifier> m_roomNotifier;
    // The stream of messages to the writer: bytes from m_base on wait in m_waiting, those up
    // to m_sent are in the pipe, m_end is where the last one ends.
    QByteArray m_waiting;
    qint64 m_base = 0;
    qint64 m_sent = 0;
    qint64 m_end = 0;
    std::deque<std::pair<qint64, qint64>> m_queued; // id, and where its message ends
    std::deque<qint64> m_inPipe;                    // ids the writer has not confirmed
    qint64 m_taken = 0;                             // the writer's counts, as last reported
    qint64 m_written = 0;
    bool m_closing = false;
    bool m_finished = false;
};

void closeBoth(int fds[2])
{
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace

std::unique_ptr<JournalFile> JournalFile::open(const QByteArray &path,
                                               JournalFileListener &listener, Error &failure)
{
    WriterReport why{};
    const int file = openJournalFd(path.constData(), why);
    if (file < 0) {
        failure = reported(why, path);
        return nullptr;
    }
    int rows[2], reports[2];
    if (::pipe2(rows, O_CLOEXEC) != 0 || ::fcntl(rows[1], F_SETFL, O_NONBLOCK) != 0) {
        failure = journalError(ErrorStep::JournalOpen, ErrorKind::Other, errno, path);
        ::close(file);
        return nullptr;
    }
    if (::pipe2(reports, O_CLOEXEC | O_NONBLOCK) != 0) {
        failure = journalError(ErrorStep::JournalOpen, ErrorKind::Other, errno, path);
        closeBoth(rows);
        ::close(file);
        return nullptr;
    }
    // Room for thousands of rows while the writer waits for a slow disk.
    ::fcntl(rows[1], F_SETPIPE_SZ, 1 << 20);
    const pid_t writer = ::fork();
    if (writer == 0)
        runJournalWriter(rows[0], reports[1], file, path.constData());
    const int forkError = errno;
    ::close(rows[0]);
    ::close(reports[1]);
    ::close(file);
    if (writer < 0) {
        failure = journalError(ErrorStep::JournalOpen, ErrorKind::Other, forkError, path);
        ::close(rows[1]);
        ::close(reports[0]);
        return nullptr;
    }
    return std::make_unique<WriterProcessFile>(writer, rows[1], reports[0], path, listener);
}

} // namespace dorq
