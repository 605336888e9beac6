#include "program_options.h"

#include "dorq_version.h"
#include "system.h"

#include <QCommandLineParser>
#include <QDir>

namespace dorq {

namespace {

constexpr int UsageError = 2;

ParsedCommandLine usageError(const QString &text)
{
    ParsedCommandLine parsed;
    parsed.exitStatus = UsageError;
    parsed.output = QStringLiteral("dorq-pulse: %1\nZie dorq-pulse --help.\n").arg(text);
    return parsed;
}

// The last value of `option` as the parser reads the line: values of other options skipped.
// Null when it is not there.
QByteArray nativeValue(const QList<QByteArray> &native, const QByteArray &option)
{
    QByteArray value;
    for (qsizetype i = 1; i < native.size(); ++i) {
        const QByteArray &argument = native[i];
        if (argument == "--")
            break;
        for (const QByteArray name : {"--journal", "--com1", "--com2", "--play"}) {
            if (argument == name && i + 1 < native.size()) {
                if (name == option)
                    value = native[i + 1];
                ++i;
                break;
            }
            if (argument.startsWith(name + '=') && name == option)
                value = argument.mid(name.size() + 1);
        }
    }
    return value;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList &arguments, const QList<QByteArray> &native)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Emuleert de pulsgenerator van een DORQ-Modicon-PLC op een seriele lijn.\n"
                       "Zonder --journal gaat het journaal van elke druk naar\n%1")
            .arg(QDir::toNativeSeparators(
                QDir(defaultJournalFolder()).filePath(QStringLiteral("journal-JJJJ-MM-DD.csv")))));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Toont deze hulp."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Toont de versie."));
    const PortMap defaults = defaultPortMap();
    const auto portOption = [&](int port) {
        return QCommandLineOption(
            QStringLiteral("com%1").arg(port),
            QStringLiteral("Apparaat achter COM%1 voor deze keer (standaard %2, of wat in het "
                           "menu van COM%1 gekozen is).")
                .arg(port)
                .arg(defaults[port]),
            QStringLiteral("APPARAAT"));
    };
    const QCommandLineOption com1 = portOption(1), com2 = portOption(2);
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Zonder venster: leest opdrachten (com1, com2, 1 tot 8, quit) regel per "
                       "regel van standaardinvoer en antwoordt op standaarduitvoer."));
    const QCommandLineOption journal(
        QStringLiteral("journal"),
        QStringLiteral("Voegt het journaal toe aan BESTAND (aangemaakt als het ontbreekt)."),
        QStringLiteral("BESTAND"));
    const QCommandLineOption noJournal(QStringLiteral("no-journal"),
                                       QStringLiteral("Houdt geen journaal bij."));
    const QCommandLineOption play(
        QStringLiteral("play"),
        QStringLiteral("Speelt het programma in BESTAND op de klok (of de verzonden drukken van "
                       "een journaal) en stopt daarna; leest geen standaardinvoer."),
        QStringLiteral("BESTAND"));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("Met --play: toont elk record dat het programma zal sturen, met de tijd "
                       "vanaf het begin, en opent geen poort."));
    for (const auto &option :
         {help, version, com1, com2, headless, journal, noJournal, play, dryRun})
        parser.addOption(option);

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        return {{}, 0, parser.helpText()};
    if (parser.isSet(version))
        return {{}, 0, QStringLiteral("dorq-pulse %1\n").arg(QLatin1String(DisplayVersion))};
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("onbekend argument \"%1\"")
                              .arg(parser.positionalArguments().constFirst()));

    ParsedCommandLine parsed;
    ProgramOptions &options = parsed.options;
    options.headless = parser.isSet(headless);
    for (const auto &[port, option] : {std::pair{1, &com1}, std::pair{2, &com2}}) {
        if (!parser.isSet(*option))
            continue;
        // A device name is bytes too, and reaches the system as it was given.
        const QByteArray nativeDevice = nativeValue(native, "--com" + QByteArray::number(port));
        const QString device =
            nativeDevice.isNull() ? parser.value(*option) : displayPath(nativeDevice);
        if (device.isEmpty())
            return usageError(QStringLiteral("--com%1 heeft een apparaat nodig, bijvoorbeeld "
                                             "--com%1 %2")
                                  .arg(port)
                                  .arg(exampleDevices().value(0)));
        options.ports[port] = device;
    }
    options.playFile = parser.value(play);
    options.dryRun = parser.isSet(dryRun);
    if (parser.isSet(play) && options.playFile.isEmpty())
        return usageError(QStringLiteral("--play heeft een bestand nodig"));
    if (options.dryRun && !parser.isSet(play))
        return usageError(QStringLiteral("--dry-run hoort bij --play BESTAND"));
    if (parser.isSet(journal) && parser.isSet(noJournal))
        return usageError(QStringLiteral("--journal en --no-journal sluiten elkaar uit"));
    if (parser.isSet(noJournal))
        options.journal = ProgramOptions::JournalKind::None;
    if (parser.isSet(journal)) {
        options.journal = ProgramOptions::JournalKind::File;
        options.journalFile = nativeValue(native, "--journal");
        if (options.journalFile.isNull())
            options.journalFile = nativePath(parser.value(journal));
        if (options.journalFile.isEmpty())
            return usageError(QStringLiteral("--journal heeft een bestand nodig"));
    }
    return parsed;
}

} // namespace dorq
