#include "command_line.h"
#include "main_window.h"

#include <QApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Killed from a terminal or a session manager, the tool still closes its window so the
// port is released and its line settings restored, as when the operator closes it.
void quitOnTerminationSignals(QWidget &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char signalNumber = 0;
        if (::read(signalPipe[1], &signalNumber, 1) == 1)
            window.close();
    });
    struct sigaction action = {};
    action.sa_handler = [](int signalNumber) {
        const char byte = static_cast<char>(signalNumber);
        [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
    };
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

} // namespace
#endif

int main(int argc, char **argv)
{
    QApplication::setApplicationName(QStringLiteral("dorq-pulse"));
    QApplication::setApplicationVersion(dorq::DisplayVersion);
    dorq::MainWindow::Options options;
    {
        // Without a display yet, so that --help and --version work anywhere.
        QCoreApplication parsing(argc, argv);
        options.ports = dorq::parseCommandLine(QCoreApplication::arguments());
    }

    QApplication app(argc, argv);
    dorq::MainWindow window(std::move(options));
#ifdef Q_OS_UNIX
    quitOnTerminationSignals(window);
#endif
    window.show();
    return QApplication::exec();
}
