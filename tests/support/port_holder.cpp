// Opens a port the way the tool does and holds it until killed, so that tests can leave a
// line behind exactly as a killed instance of the tool would.
#include "ms_comm.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    dorq::MsComm comm({{1, QString::fromLocal8Bit(argv[1])}});
    try {
        dorq::selectPort(comm, 1);
    } catch (const dorq::SerialError &e) {
        // The reason why it is no serial line, where there is one.
        const char *why = e.error().reason == dorq::ErrorReason::OwnTerminal ? " tty" : "";
        std::fprintf(stderr, "%d%s\n", e.number(), why);
        return 1;
    }
    std::puts("open");
    std::fflush(stdout);
    return app.exec();
}
