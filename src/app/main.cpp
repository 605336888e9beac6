// The program's start: the command line decides between the window and the console, and
// which application object runs them.
#include "console_front_end.h"
#include "dorq_version.h"
#include "main_window.h"
#include "one_line.h"
#include "port_memory.h"
#include "process_setup.h"
#include "program_options.h"
#include "words.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <functional>

namespace {

using namespace dorq;

// --help and --version go to standard output, as they were asked for.
void printOutput(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// Without a display Qt gives up with advice about reinstalling, and aborts. Say instead in
// one line what is missing and what runs without it.
void refuseToAbortWithoutDisplay()
{
    qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (type != QtFatalMsg) {
                if (!QByteArray(context.category).startsWith("qt.qpa"))
                    writeStandardError(text + QLatin1Char('\n'));
                return;
            }
            writeStandardError(QStringLiteral("dorq-pulse: geen beeldscherm gevonden: het venster "
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
    for (const QString &dir :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
          QCoreApplication::applicationDirPath() + QStringLiteral("/translations")})
        if (!qtWords.isEmpty() || qtWords.load(QStringLiteral("qtbase_nl"), dir))
            break;
    QCoreApplication::installTranslator(&qtWords);
}

// Opened once the front end can run, so that a run that cannot start leaves no file behind.
// False, with the reason said, when the journal asked for cannot be opened.
bool openJournal(const ProgramOptions &options, std::unique_ptr<Journal> &journal)
{
    Error failure;
    switch (options.journal) {
    case ProgramOptions::JournalKind::None:
        return true;
    case ProgramOptions::JournalKind::File:
        journal = Journal::toNativeFile(options.journalFile, &failure);
        break;
    case ProgramOptions::JournalKind::Daily:
        journal = Journal::daily(defaultJournalFolder(), &failure);
        break;
    }
    if (!journal)
        writeStandardError(QStringLiteral("dorq-pulse: %1\n").arg(oneLine(errorText(failure))));
    return journal != nullptr;
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
            if (parsed.exitStatus == 0)
                printOutput(parsed.output);
            else
                writeStandardError(parsed.output);
            return parsed.exitStatus;
        }
    }
    const PortMemory::Remembered remembered = PortMemory().read(parsed.options.ports);
    for (const Error &problem : remembered.problems)
        writeStandardError(QStringLiteral("dorq-pulse: %1\n").arg(oneLine(errorText(problem))));
    const PortMap ports = remembered.ports;

    // Every port is closed by the time a front end returns; those whose output had not all
    // left finish closing meanwhile, and the program ends only when they are done.
    const auto ended = [](int status) {
        if (!waitForClosingPorts(30000))
            writeStandardError(
                QStringLiteral("dorq-pulse: een poort was na 30 seconden nog niet gesloten\n"));
        return status;
    };
    if (parsed.options.headless) {
        QCoreApplication app(argc, argv);
        speakDutch();
        std::unique_ptr<Journal> journal;
        if (!openJournal(parsed.options, journal))
            return 2;
        SessionOptions options;
        options.ports = ports;
        options.journal = std::move(journal);
        auto console = std::make_unique<ConsoleFrontEnd>(std::move(options), stdout);
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
    options.session.ports = ports;
    options.session.journal = std::move(journal);
    auto window = std::make_unique<MainWindow>(std::move(options));
    onTerminationSignals(window.get(), [&window] { window->closeAtOnce(); });
    window->show();
    const int status = QApplication::exec();
    const bool journaled = window->finishJournal();
    window.reset();
    return ended(journaled ? status : 1);
}
