#include "answer_writer.h"

#include <QSocketNotifier>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorq {

AnswerWriter::AnswerWriter(std::FILE *out, QObject *parent) : QObject(parent), m_out(out)
{
    const int fd = ::fileno(out);
    // A pipe that says it has room takes PIPE_BUF bytes without waiting; a file takes all.
    struct stat status = {};
    m_chunk = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? 1 << 20 : PIPE_BUF;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        writeSome();
        if (backlog() == 0 && !m_failed)
            emit drained();
    });
}

void AnswerWriter::add(const QString &line)
{
    m_pending += line.toUtf8() + '\n';
}

void AnswerWriter::flush()
{
    writeSome();
}

void AnswerWriter::writeSome()
{
    const int fd = ::fileno(m_out);
    while (backlog() > 0 && !m_failed) {
        pollfd ready = {fd, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, 0);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0 || !(ready.revents & (POLLOUT | POLLERR | POLLHUP)))
            break;
        const ssize_t n = ::write(fd, m_pending.constData() + m_written,
                                  std::size_t(std::min(backlog(), m_chunk)));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            m_failed = true;
            m_notifier->setEnabled(false);
            emit failed();
            return;
        }
        m_written += n;
    }
    if (backlog() == 0) {
        m_pending.clear();
        m_written = 0;
    } else if (m_written > (1 << 16)) {
        m_pending.remove(0, m_written);
        m_written = 0;
    }
    m_notifier->setEnabled(backlog() > 0 && !m_failed);
}

} // namespace dorq
