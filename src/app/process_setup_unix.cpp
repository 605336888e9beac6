#include "process_setup.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dorq {

namespace {

int signalPipe[2] = {-1, -1};

} // namespace

void openClosedStandardStreams()
{
    // Lowest free number first: each open fills the gap it is meant for.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) != fd)
            std::_Exit(2);
    // Inherited as ignored, SIGCHLD would have the system reap the journal's writer unseen.
    ::signal(SIGCHLD, SIG_DFL);
}

void useParentConsole() {}

// Killed from a terminal, a session manager or a test script, the tool still ends as when
// the operator ends it, so the port is released and the journal synced.
void onTerminationSignals(QObject *context, std::function<void()> end)
{
    // A reader of the answers or a journal writer that went away is told by EPIPE: an end
    // of the run or a lost row, never a crash.
    ::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [end = std::move(end)] {
        char signalNumber = 0;
        if (::read(signalPipe[1], &signalNumber, 1) == 1)
            end();
    });
    struct sigaction action = {};
    action.sa_handler = [](int signalNumber) {
        const int saved = errno;
        const char byte = static_cast<char>(signalNumber);
        [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
        errno = saved;
    };
    ::sigemptyset(&action.sa_mask);
    // A second signal ends the program at once, should the orderly end hang.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

} // namespace dorq
