#include "serial_device.h"
#include "tty_linux.h"

#include <QElapsedTimer>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace dorq {

namespace {

// Never freed: a closing thread may outlive every object here.
struct Closing
{
    std::mutex mutex;
    std::condition_variable done;
    std::set<dev_t> devices;
};

Closing &closing()
{
    static Closing *const all = new Closing;
    return *all;
}

void finished(dev_t device)
{
    {
        const std::lock_guard<std::mutex> lock(closing().mutex);
        closing().devices.erase(device);
    }
    closing().done.notify_all();
}

// A UART takes more as it sends, a byte at a time (every 100 ms at 110 baud); a far end that
// takes nothing for this long does not read, and keeps the half line it has.
constexpr int StallMs = 250;

void sendRest(const TtyCalls &calls, int fd, QByteArray rest)
{
    QElapsedTimer stalled;
    stalled.start();
    while (!rest.isEmpty() && !stalled.hasExpired(StallMs)) {
        const ssize_t n = calls.write(fd, rest.constData(), std::size_t(rest.size()));
        if (n > 0) {
            rest.remove(0, n);
            stalled.restart();
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

} // namespace

bool isStillClosing(dev_t device)
{
    const std::lock_guard<std::mutex> lock(closing().mutex);
    return closing().devices.count(device) != 0;
}

void closeInBackground(int fd, dev_t device, const QByteArray &rest)
{
    {
        const std::lock_guard<std::mutex> lock(closing().mutex);
        closing().devices.insert(device);
    }
    const TtyCalls calls = ttyCalls();
    try {
        std::thread([calls, fd, device, rest] {
            sendRest(calls, fd, rest);
            calls.close(fd);
            finished(device);
        }).detach();
    } catch (const std::system_error &) {
        // No thread to be had: the line is closed now, and whatever it still held is lost.
        ::close(fd);
        finished(device);
    }
}

bool waitForClosingPorts(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(closing().mutex);
    return closing().done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [] { return closing().devices.empty(); });
}

} // namespace dorq
