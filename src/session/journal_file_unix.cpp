#include "journal_file.h"
#include "journal_writer_unix.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dorq {

namespace {

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

// Rows go through a pipe to a writer process of their own: the press only hands its row
// to the kernel, whose pipe outlives this program, and the writer alone waits for the disk.
class WriterProcessFile : public JournalFile
{
public:
    WriterProcessFile(pid_t writer, int rows, int reports, QByteArray path,
                      JournalFileListener &listener)
        : m_writer(writer), m_rows(rows), m_reports(reports), m_path(std::move(path)),
          m_listener(listener),
          m_notifier(std::make_unique<QSocketNotifier>(m_reports, QSocketNotifier::Read))
    {
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { readReports(); });
    }
    ~WriterProcessFile() override { finish(); }

    void append(const QByteArray &row) override
    {
        if (m_rows < 0 || row.size() > qsizetype(MaxJournalRow))
            return fail(m_rows < 0 ? EPIPE : EMSGSIZE);
        const auto size = std::uint32_t(row.size());
        const QByteArray message = QByteArray(reinterpret_cast<const char *>(&size), 4) + row;
        // One write: whole, or not at all should this program be killed. A full pipe (the
        // writer that far behind) holds the press rather than losing its row.
        for (qsizetype done = 0; done < message.size();) {
            const ssize_t n =
                ::write(m_rows, message.constData() + done, std::size_t(message.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return fail(errno);
            done += n;
        }
    }

    void closeInput() override
    {
        if (m_rows >= 0)
            ::close(m_rows);
        m_rows = -1;
    }

    bool finish() override
    {
        closeInput();
        if (m_writer > 0) {
            int status = 0;
            while (::waitpid(m_writer, &status, 0) < 0 && errno == EINTR) {
            }
            settle(status);
        }
        return m_whole;
    }

    bool ended() override
    {
        int status = 0;
        if (m_writer > 0 && ::waitpid(m_writer, &status, WNOHANG) == m_writer)
            settle(status);
        return m_writer <= 0;
    }

private:
    void fail(int number)
    {
        m_whole = false;
        m_listener.failed(journalError(ErrorStep::JournalWrite, ErrorKind::Other, number, m_path));
    }

    // The writer has ended: what it still said, and whether it lost a row.
    void settle(int status)
    {
        m_whole = m_whole && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        m_writer = 0;
        readReports();
        m_notifier.reset();
        ::close(m_reports);
    }

    void readReports()
    {
        WriterReport reports[64];
        ssize_t n;
        while ((n = ::read(m_reports, reports, sizeof reports)) > 0) {
            for (std::size_t i = 0; i < std::size_t(n) / sizeof *reports; ++i) {
                const WriterReport &r = reports[i];
                if (r.kind == WriterReport::RowWritten)
                    m_listener.written();
                else
                    m_listener.failed(reported(r, m_path));
            }
        }
        if (n == 0 && m_notifier) // the writer has ended
            m_notifier->setEnabled(false);
    }

    pid_t m_writer;
    int m_rows;
    int m_reports;
    QByteArray m_path;
    JournalFileListener &m_listener;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_whole = true;
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
    if (::pipe2(rows, O_CLOEXEC) != 0) {
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
