#include "line_reader.h"

#include <QSocketNotifier>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace dorq {

// What the reading thread shares with the reader: cut when the reader goes, while the
// thread may still wait for a line that never comes.
struct LineReader::Link
{
    std::mutex mutex;
    LineReader *reader = nullptr;

    template <typename F> void post(F &&deliver)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (reader)
            QMetaObject::invokeMethod(reader, std::forward<F>(deliver), Qt::QueuedConnection);
    }
};

LineReader::LineReader(std::istream &in, QObject *parent)
    : QObject(parent), m_link(std::make_shared<Link>())
{
    m_link->reader = this;
    std::thread([link = m_link, &in] {
        std::string line;
        while (std::getline(in, line)) {
            const QString text = QString::fromStdString(line);
            link->post([link, text] { emit link->reader->lineRead(text); });
        }
        link->post([link] { emit link->reader->ended(); });
    }).detach();
}

#ifdef Q_OS_UNIX
LineReader::LineReader(int fd, QObject *parent)
    : QObject(parent), m_fd(fd), m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &LineReader::readSome);
}

void LineReader::readSome()
{
    char buffer[4096];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n > 0) {
        m_partial.append(buffer, int(n));
        for (qsizetype end; (end = m_partial.indexOf('\n')) >= 0; m_partial.remove(0, end + 1))
            emit lineRead(QString::fromUtf8(m_partial.left(end)));
        return;
    }
    m_notifier->setEnabled(false);
    if (!m_partial.isEmpty())
        emit lineRead(QString::fromUtf8(std::exchange(m_partial, {})));
    emit ended();
}
#else
void LineReader::readSome() {}
#endif

LineReader::~LineReader()
{
    if (!m_link)
        return;
    const std::lock_guard<std::mutex> lock(m_link->mutex);
    m_link->reader = nullptr;
}

} // namespace dorq
