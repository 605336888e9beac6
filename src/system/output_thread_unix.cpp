#include "system.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace dorq {

using Clock = std::chrono::steady_clock;

struct OutputState
{
    int fd;
    qsizetype limit;
    int progress = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::mutex mutex;
    std::condition_variable changed;
    QByteArray queued;
    qsizetype inWrite = 0;   // taken by the thread, not yet written
    Clock::time_point since; // when the write under way began
    bool failed = false;
    bool abandoned = false;

    ~OutputState()
    {
        if (progress >= 0)
            ::close(progress);
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return abandoned || (!queued.isEmpty() && !failed); });
            if (abandoned)
                return;
            const QByteArray bytes = std::exchange(queued, {});
            inWrite = bytes.size();
            since = Clock::now();
            lock.unlock();
            int error = 0;
            for (qsizetype done = 0; done < bytes.size() && !error;) {
                const ssize_t n =
                    ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    error = n < 0 ? errno : EIO;
                else
                    done += n;
            }
            lock.lock();
            inWrite = 0;
            failed = failed || error;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t told = ::write(progress, &one, sizeof one);
            changed.notify_all();
        }
    }
};

OutputThread::OutputThread(int fd, qsizetype limit) : m_state(std::make_shared<OutputState>())
{
    m_state->fd = fd;
    m_state->limit = limit;
    std::thread([state = m_state] { state->run(); }).detach();
}

OutputThread::~OutputThread()
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->abandoned = true;
    m_state->changed.notify_all();
}

bool OutputThread::add(const QByteArray &bytes)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    OutputState &s = *m_state;
    if (s.failed || (s.limit > 0 && s.queued.size() + s.inWrite + bytes.size() > s.limit))
        return false;
    s.queued += bytes;
    s.changed.notify_all();
    return true;
}

qsizetype OutputThread::waiting() const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->queued.size() + m_state->inWrite;
}

bool OutputThread::failed() const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->failed;
}

bool OutputThread::waitWritten(int ms)
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    OutputState &s = *m_state;
    return s.changed.wait_for(lock, std::chrono::milliseconds(ms),
                              [&s] { return s.failed || (s.queued.isEmpty() && s.inWrite == 0); });
}

bool OutputThread::stuck(int ms) const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->inWrite > 0 && Clock::now() - m_state->since > std::chrono::milliseconds(ms);
}

int OutputThread::progressFd() const
{
    return m_state->progress;
}

void OutputThread::take()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_state->progress, &count, sizeof count);
}

} // namespace dorq
