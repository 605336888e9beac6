// The program's start: the command line decides between the window and the console, and
// which application object runs them.
#include "console_front_end.h"
#include "dorq_version.h"
#include "main_window.h"
#include "port_memory.h"
#include "process_setup.h"
#include "program_options.h"
#include "pulse_program.h"
#include "words.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <functional>
#include <optional>

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

void tell(const QString &text)
{
    writeStandardError(QStringLiteral("dorq-pulse: %1\n").arg(oneLine(text)));
}

// The records of a dry run, as they will go, with the offset for the time of day.
int listRecords(const PulseProgram &program)
{
    std::string lines;
    ProgramPress press;
    const auto write = [&lines] {
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        lines.clear();
    };
    for (auto presses = program.cursor(); presses.next(press);) {
        lines += dryRunLine(press) + '\n';
        if (lines.size() >= 1 << 16)
            write();
    }
    write();
    if (program.skippedRows() > 0)
        tell(QStringLiteral("%1 rijen van het journaal waren niet verzonden en worden overgeslagen")
                 .arg(program.skippedRows()));
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

// Read and checked whole before anything is opened: -1 to play `program`, else the status
// to end with, 2 for a program that cannot be played and 0 after a dry run.
int loadProgram(const ProgramOptions &options, PulseProgram &program)
{
    ParsedProgram parsed;
    Error failure;
    if (!readPulseProgram(options.playFile, parsed, failure)) {
        tell(errorText(failure));
        return 2;
    }
    for (const ProgramError &error : parsed.errors)
        tell(options.playFile + QLatin1String(error.line ? ", " : ": ") + programErrorText(error));
    if (parsed.moreErrors > 0)
        tell(options.playFile + QStringLiteral(": en meer fouten; verbeter eerst deze"));
    if (!parsed.errors.empty())
        return 2;
    if (options.dryRun)
        return listRecords(parsed.program);
    if (options.headless && parsed.program.port() == 0) {
        tell(options.playFile +
             QStringLiteral(" noemt geen poort: zet \"port com1\" of \"port "
                            "com2\" bovenaan, zonder venster kiest niemand er een"));
        return 2;
    }
    program = std::move(parsed.program);
    return -1;
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
    std::optional<PulseProgram> program;
    if (!parsed.options.playFile.isEmpty()) {
        if (const int status = loadProgram(parsed.options, program.emplace()); status >= 0)
            return status;
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
        auto console = std::make_unique<ConsoleFrontEnd>(std::move(options), stdout,
                                                         program ? &*program : nullptr);
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
    options.program = program ? &*program : nullptr;
    auto window = std::make_unique<MainWindow>(std::move(options));
    onTerminationSignals(window.get(), [&window] { window->closeAtOnce(); });
    window->show();
    const int status = QApplication::exec();
    const bool played = window->finishPlay();
    const bool journaled = window->finishJournal();
    window.reset();
    return ended(journaled && played ? status : 1);
}
