#include "pty_pair.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

namespace dorq::test {

PtyPair::PtyPair()
{
    if (::openpty(&m_peer, &m_device, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::fcntl(m_peer, F_SETFL, ::fcntl(m_peer, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_peer, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_device, F_SETFD, FD_CLOEXEC);
    m_name = QString::fromLocal8Bit(::ttyname(m_device));
    // Echo would send every byte the program writes straight back to it.
    termios tio{};
    ::tcgetattr(m_device, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_device, TCSANOW, &tio);
}

PtyPair::~PtyPair()
{
    hangUp();
    if (m_device >= 0)
        ::close(m_device);
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count && !timer.hasExpired(timeoutMs) && m_peer >= 0) {
        QCoreApplication::processEvents();
        pollfd p{m_peer, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0)
            continue;
        char buf[4096];
        const auto n = ::read(m_peer, buf, std::min<std::size_t>(sizeof buf, count - got.size()));
        if (n > 0)
            got.append(buf, static_cast<int>(n));
    }
    return got;
}

QByteArray PtyPair::readAvailable(int waitMs)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(waitMs)) {
        QCoreApplication::processEvents();
        char buf[4096];
        const auto n = ::read(m_peer, buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<int>(n));
        else
            ::usleep(1000);
    }
    return got;
}

QByteArray PtyPair::readNow()
{
    QByteArray got;
    char buf[4096];
    for (ssize_t n; m_peer >= 0 && (n = ::read(m_peer, buf, sizeof buf)) > 0;)
        got.append(buf, static_cast<int>(n));
    return got;
}

void PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const auto n = ::write(m_peer, bytes.constData() + done, bytes.size() - done);
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN)
            throw std::runtime_error("peer write failed");
        else
            QCoreApplication::processEvents();
    }
}

termios PtyPair::settings() const
{
    termios tio{};
    ::tcgetattr(m_device, &tio);
    return tio;
}

void PtyPair::hangUp()
{
    if (m_peer >= 0)
        ::close(m_peer);
    m_peer = -1;
}

int PtyPair::programDescriptors() const
{
    return openDescriptorsOf(m_name) - (m_device >= 0 ? 1 : 0);
}

int openDescriptorsOf(const QString &path)
{
    // A hung-up pty's node is gone, so compare link texts rather than resolved files.
    const QByteArray wanted = QFile::encodeName(path);
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        char target[512];
        const QByteArray link = QFile::encodeName(fds.filePath(fd));
        const auto n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && (QByteArray(target, int(n)) == wanted ||
                      QByteArray(target, int(n)) == wanted + " (deleted)"))
            ++count;
    }
    return count;
}

int newestChild(qint64 pid)
{
    const QString process = pid ? QString::number(pid) : QStringLiteral("self");
    int newest = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(process));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        children.open(QIODevice::ReadOnly);
        for (const QByteArray &child : children.readAll().simplified().split(' '))
            newest = std::max(newest, child.toInt());
    }
    return newest;
}

double cpuShareWhileRunning(int ms)
{
    timespec before{}, after{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double cpu =
        double(after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    return cpu / (double(wall.elapsed()) / 1000.0);
}

} // namespace dorq::test
