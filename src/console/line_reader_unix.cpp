#include "line_reader.h"

#include <QSocketNotifier>
#include <cerrno>
#include <unistd.h>

namespace dorq {

std::unique_ptr<LineReader> LineReader::standardInput()
{
    return std::make_unique<LineReader>(STDIN_FILENO);
}

LineReader::LineReader(int fd, QObject *parent)
    : QObject(parent), m_fd(fd), m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    // One read per turn of the event loop, so that its timer and signals are served between.
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16384];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n > 0)
            return take(QByteArrayView(buffer, n));
        m_notifier->setEnabled(false);
        end();
    });
}

void LineReader::setPaused(bool paused)
{
    if (m_notifier && !m_ended)
        m_notifier->setEnabled(!paused);
}

} // namespace dorq
