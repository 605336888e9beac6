// The program's start: the command line decides between the window and the console, and
// which application object runs them.
#include "console_front_end.h"
#include "dorq_version.h"
#include "journal_place.h"
#include "main_window.h"
#include "one_line.h"
#include "process_setup.h"
#include "program_options.h"
#include "failure.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <functional>

namespace {

using namespace dorq;

void printLines(std::FILE *to, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to);
    std::fflush(to);
}

// Without a display Qt gives up with advice about reinstalling, and aborts. Say instead in
// one line what is missing and what runs without it.
void refuseToAbortWithoutDisplay()
{
    qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (type != QtFatalMsg) {
                if (!QByteArray(context.category).startsWith("qt.qpa"))
                    printLines(stderr, text + QLatin1Char('\n'));
                return;
            }
            printLines(stderr, QStringLiteral("dorq-pulse: geen beeldscherm gevonden: het venster "
                                              "heeft er een nodig; dorq-pulse --headless werkt "
                                              "zonder.\n"));
            std::_Exit(2);
        });
}

// Qt's own words (standard buttons, the command line's usage and errors) in the program's
// language, from Qt's translations or, in a Windows package, from beside the program. Each
// application object needs it installed anew.
void speakDutch()
{
    static QTranslator qtWords;
    for (const QString &dir : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                               QCoreApplication::applicationDirPath() +
                                   QStringLiteral("/translations")})
        if (!qtWords.isEmpty() || qtWords.load(QStringLiteral("qtbase_nl"), dir))
            break;
    QCoreApplication::installTranslator(&qtWords);
}

std::unique_ptr<Journal> openJournal(const ProgramOptions &options)
{
    switch (options.journal) {
    case ProgramOptions::JournalKind::None:
        return nullptr;
    case ProgramOptions::JournalKind::File:
        return Journal::toNativeFile(options.journalFile);
    case ProgramOptions::JournalKind::Daily:
        break;
    }
    return Journal::daily(defaultJournalFolder());
}

// Opened once the front end can run, so that a run that cannot start leaves no file behind.
bool openJournal(const ProgramOptions &options, std::unique_ptr<Journal> &journal)
{
    try {
        journal = openJournal(options);
        return true;
    } catch (const Failure &e) {
        printLines(stderr, QStringLiteral("dorq-pulse: %1\n").arg(oneLine(e.text())));
        return false;
    }
}

} // namespace

int main(int argc, char **argv)
{
    openClosedStandardStreams();
    useParentConsole();
    QCoreApplication::setApplicationName(QStringLiteral("dorq-pulse"));
    QCoreApplication::setApplicationVersion(QLatin1String(DisplayVersion));
    ParsedCommandLine parsed;
    {
        // Without a display yet, so that --help, --version and usage errors work anywhere.
        QCoreApplication parsing(argc, argv);
        speakDutch();
#ifdef Q_OS_UNIX
        // File names are bytes here; the locale's decoding could change them.
        parsed = parseCommandLine(QCoreApplication::arguments(), {argv, argv + argc});
#else
        parsed = parseCommandLine(QCoreApplication::arguments());
#endif
        if (parsed.exitStatus >= 0) {
            printLines(parsed.exitStatus == 0 ? stdout : stderr, parsed.output);
            return parsed.exitStatus;
        }
    }
    PortChoice ports(parsed.options.ports);
    for (const QString &warning : ports.warnings())
        printLines(stderr, QStringLiteral("dorq-pulse: %1\n").arg(oneLine(warning)));

    // Every port is closed by the time a front end returns; those whose output had not all
    // left finish closing meanwhile, and the program ends only when they are done.
    const auto ended = [](int status) {
        if (!waitForClosingPorts(30000))
            printLines(stderr, QStringLiteral("dorq-pulse: a port did not finish closing\n"));
        return status;
    };
    if (parsed.options.headless) {
        QCoreApplication app(argc, argv);
        speakDutch();
        std::unique_ptr<Journal> journal;
        if (!openJournal(parsed.options, journal))
            return 2;
        SessionOptions options;
        options.ports = ports.ports();
        options.journal = std::move(journal);
        auto console = std::make_unique<ConsoleFrontEnd>(std::move(options), stdout, stderr);
        QObject::connect(console.get(), &ConsoleFrontEnd::finished, &app, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        onTerminationSignals(console.get(), [&console] { console->quit(); });
        const int status = QCoreApplication::exec();
        console.reset();
        return ended(status);
    }

    refuseToAbortWithoutDisplay();
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
    speakDutch();
    std::unique_ptr<Journal> journal;
    if (!openJournal(parsed.options, journal))
        return 2;
    MainWindow::Options options;
    options.ports = std::move(ports);
    options.journal = std::move(journal);
    auto window = std::make_unique<MainWindow>(std::move(options));
    onTerminationSignals(window.get(), [&window] { window->close(); });
    window->show();
    const int status = QApplication::exec();
    const bool journaled = window->finishJournal();
    window.reset();
    return ended(journaled ? status : 1);
}
