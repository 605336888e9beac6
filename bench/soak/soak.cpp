// A long run: a million presses with the port open to a pseudo-terminal whose far end
// checks every line. Prints what it found and the memory the log costs per record.
#include "main_window.h"
#include "pulse_log_model.h"
#include "support/pty_pair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>
#include <malloc.h>

using namespace dorq;

namespace {

long long heapInUse()
{
    return static_cast<long long>(mallinfo2().uordblks);
}

// One line at the far end: "C  hh:mm:ss.tt\r\n" with the channel that was pressed.
bool wellFormed(const QByteArray &line, char channel)
{
    if (line.size() != 16 || line[0] != channel ||
        !line.startsWith(QByteArray(1, channel) + "  ") || line[5] != ':' || line[8] != ':' ||
        line[11] != '.' || !line.endsWith("\r\n"))
        return false;
    for (int i : {3, 4, 6, 7, 9, 10, 12, 13})
        if (line[i] < '0' || line[i] > '9')
            return false;
    return line.mid(3, 2) <= "23" && line[6] <= '5' && line[9] <= '5';
}

// Records never go back in time, but for the turn of the day.
bool inOrder(const QByteArray &previous, const QByteArray &next)
{
    return previous.isEmpty() || next.mid(3, 11) >= previous.mid(3, 11) ||
           (previous.mid(3, 2) == "23" && next.mid(3, 2) == "00");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long presses = argc > 1 ? std::atol(argv[1]) : 1000000;

    test::PtyPair line;
    WindowOptions options;
    options.session.ports = {{1, line.deviceName()}, {2, line.deviceName()}};
    MainWindow window(std::move(options));
    window.show();
    window.findChild<QRadioButton *>(QStringLiteral("Option1"))->click();
    if (window.session().openPort() != 1) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(line.deviceName()));
        return 1;
    }

    const long long heapBefore = heapInUse();
    QElapsedTimer clock;
    clock.start();
    QByteArray pending;
    QByteArray last;
    long received = 0, bad = 0;
    const auto check = [&] {
        for (; pending.size() >= 16; pending.remove(0, 16), ++received) {
            const QByteArray one = pending.left(16);
            if (!wellFormed(one, char('1' + received % 8)) || !inOrder(last, one)) {
                if (++bad <= 10)
                    std::printf("bad line %ld: %s after %s\n", received,
                                qPrintable(QString::fromLatin1(one.toPercentEncoding())),
                                qPrintable(QString::fromLatin1(last.left(14))));
            }
            last = one;
        }
    };
    for (long i = 0; i < presses; ++i) {
        window.channelButton(int(i % 8))->click();
        pending += line.readNow();
        check();
        if (i % 100 == 99)
            QApplication::processEvents(); // ticks and repaints, as an operator would see
    }
    pending += line.read(int(16 * (presses - received) - pending.size()), 10000);
    check();
    const double seconds = clock.elapsed() / 1000.0;
    const long long heapAfter = heapInUse();

    const auto &log = window.log();
    const bool logComplete = long(log.recordCount()) == presses &&
                             log.rowText(0).toLatin1() + "\r\n" == last &&
                             log.rowText(int(presses) - 1).at(0) == QLatin1Char('1');
    std::printf("presses           %ld in %.1f s (%.0f a second)\n", presses, seconds,
                presses / seconds);
    std::printf("lines received    %ld, malformed or out of order %ld\n", received, bad);
    std::printf("log               %zu records, newest and oldest match the line: %s\n",
                log.recordCount(), logComplete ? "yes" : "NO");
    std::printf("heap per record   %.1f bytes\n", double(heapAfter - heapBefore) / presses);
    const bool ok = received == presses && bad == 0 && logComplete;
    std::printf("%s\n", ok ? "soak passed" : "SOAK FAILED");
    return ok ? 0 : 1;
}
