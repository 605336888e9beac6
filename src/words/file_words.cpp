#include "file_words.h"

#include "pulse_program.h"
#include "system.h"
#include "words.h"

#include <cerrno>

namespace dorq {

QString withSystemText(const QString &what, const Error &e)
{
    return e.systemText.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, e.systemText);
}

QString untrustedWay()
{
    return QStringLiteral("de weg erheen loopt door een map of koppeling die een andere "
                          "gebruiker kan veranderen; als root volgt dorq-pulse die niet");
}

namespace {

// Journal rows that are not in the file.
QString lostText(const Error &e)
{
    switch (e.reason) {
    case ErrorReason::WriterBehind:
        return QStringLiteral("Het journaal %1 neemt geen rijen meer aan (de schijf hangt, of het "
                              "schrijfproces staat stil): nieuwe rijen gaan verloren tot het weer "
                              "schrijft")
            .arg(e.path);
    case ErrorReason::WriterGone:
        return QStringLiteral("Het schrijfproces van het journaal %1 is gestopt: de rijen die "
                              "het nog niet had geschreven zijn verloren")
            .arg(e.path);
    default:
        break;
    }
    const QString rows =
        e.rows == 1 ? QStringLiteral("1 rij is") : QStringLiteral("%1 rijen zijn").arg(e.rows);
    QString text = QStringLiteral("%1 niet in het journaal %2 geschreven, of niet voor het einde "
                                  "bevestigd")
                       .arg(rows, e.path);
    if (e.firstRecord == e.lastRecord && !e.firstRecord.isEmpty())
        text += QStringLiteral("; daarbij de verzonden regel \"%1\"").arg(e.firstRecord);
    else if (!e.firstRecord.isEmpty())
        text += QStringLiteral("; daarbij de verzonden regels van \"%1\" tot en met \"%2\"")
                    .arg(e.firstRecord, e.lastRecord);
    return text;
}

} // namespace

QString journalText(const Error &e)
{
    switch (e.step) {
    case ErrorStep::JournalFolder:
        if (e.kind == ErrorKind::Untrusted)
            return QStringLiteral("Kan de map %1 voor het journaal niet maken: %2")
                .arg(e.path, untrustedWay());
        return withSystemText(
            QStringLiteral("Kan de map %1 voor het journaal niet maken").arg(e.path), e);
    case ErrorStep::JournalOpen:
        if (e.kind == ErrorKind::NotAFile)
            return QStringLiteral("Kan het journaal %1 niet openen: het is geen gewoon bestand "
                                  "(een FIFO, socket of map); kies een bestand")
                .arg(e.path);
        if (e.kind == ErrorKind::Untrusted && e.reason == ErrorReason::OthersFile)
            return QStringLiteral("Kan het journaal %1 niet openen: het bestand is van een andere "
                                  "gebruiker; als root schrijft dorq-pulse niet in het bestand "
                                  "van een ander")
                .arg(e.path);
        if (e.kind == ErrorKind::Untrusted)
            return QStringLiteral("Kan het journaal %1 niet openen: %2")
                .arg(e.path, untrustedWay());
        return withSystemText(QStringLiteral("Kan het journaal %1 niet openen").arg(e.path), e);
    case ErrorStep::JournalSync:
        return withSystemText(
            QStringLiteral("Kan het journaal %1 niet naar schijf schrijven").arg(e.path), e);
    default:
        break;
    }
    if (e.kind == ErrorKind::Lost)
        return lostText(e);
    if (e.kind == ErrorKind::Replaced)
        return QStringLiteral("Het journaal %1 was verwijderd of vervangen; de volgende rijen "
                              "staan in een nieuw bestand op dezelfde plaats")
            .arg(e.path);
    return withSystemText(QStringLiteral("Kan niet in het journaal %1 schrijven").arg(e.path), e);
}

QString settingsText(const Error &e)
{
    const QString notAFile = QStringLiteral("het is geen gewoon bestand (een FIFO, socket of map)");
    const QString why = e.kind == ErrorKind::Untrusted  ? untrustedWay()
                        : e.kind == ErrorKind::NotAFile ? notAFile
                        : e.number == ENOENT ? QStringLiteral("de map kan niet worden gemaakt")
                                             : e.systemText;
    if (e.step == ErrorStep::SettingsSave)
        return QStringLiteral("Kan de poortkeuze niet bewaren in %1: %2; ze geldt tot het "
                              "programma stopt.")
            .arg(e.path, why);
    if (e.kind == ErrorKind::Untrusted || e.kind == ErrorKind::NotAFile)
        return QStringLiteral("Instellingen %1 worden niet gebruikt: %2; de standaardpoorten "
                              "worden gebruikt.")
            .arg(e.path, why);
    if (e.reason == ErrorReason::PortNumber)
        return QStringLiteral("Ongeldige waarde voor COM%1 in %2; %3 wordt gebruikt.")
            .arg(e.value, e.path, defaultPortMap().value(e.value.toInt()));
    if (e.systemText.isEmpty())
        return QStringLiteral("Instellingen %1 zijn onleesbaar; de standaardpoorten worden "
                              "gebruikt.")
            .arg(e.path);
    return QStringLiteral("Instellingen %1 zijn onleesbaar: %2; de standaardpoorten worden "
                          "gebruikt.")
        .arg(e.path, e.systemText);
}

// Pulse programs: what is wrong on which line, and how a play went.
namespace {

QString seconds(std::int32_t ticks)
{
    return QString::fromStdString(dryRunLine({ticks, 1, 0}).substr(4));
}

QString ms(std::int64_t us)
{
    return QString::number(double(us) / 1000, 'f', 2);
}

const QString Forms =
    QStringLiteral("een regel is \"T K\", \"T K every S times N\" of \"port com1\"");
const QString OneRecord = QStringLiteral("een record duurt 18.33 ms op de lijn (16 bytes bij "
                                         "9600 baud, 8O1), dus minstens 20 ms ertussen");

QString problem(const ProgramError &e)
{
    using Kind = ProgramError::Kind;
    const QString word = QString::fromUtf8(e.word.data(), qsizetype(e.word.size()));
    switch (e.kind) {
    case Kind::Channel:
        return QStringLiteral("kanaal \"%1\" bestaat niet; kies 1 tot 8").arg(word);
    case Kind::OffGrid:
        return QStringLiteral("\"%1\" valt niet op de klok van 10 ms: hoogstens twee decimalen")
            .arg(word);
    case Kind::Negative:
        return QStringLiteral("\"%1\" is negatief").arg(word);
    case Kind::NotANumber:
        return QStringLiteral("\"%1\" is geen getal in seconden, zoals 12.04%2")
            .arg(word, word.contains(QLatin1Char(','))
                           ? QStringLiteral(" (met een punt, niet met een komma)")
                           : QString());
    case Kind::UnknownWord:
        return QStringLiteral("onbekend woord \"%1\"; %2").arg(word, Forms);
    case Kind::Incomplete:
        return QStringLiteral("onvolledig; %1").arg(Forms);
    case Kind::Count:
        return QStringLiteral("\"%1\" na times is geen geheel aantal van minstens 1").arg(word);
    case Kind::TooClose:
        if (e.otherLine == e.line)
            return QStringLiteral("de drukken van deze regel volgen elkaar op %1 ms; %2")
                .arg(e.gap * 10)
                .arg(OneRecord);
        return QStringLiteral("de druk op +%1 s volgt %2 ms na een druk van regel %3; %4")
            .arg(seconds(e.at))
            .arg(e.gap * 10)
            .arg(e.otherLine)
            .arg(OneRecord);
    case Kind::TooLong:
        if (e.at == 0)
            return QStringLiteral("deze rij ligt meer dan 24 uur van de eerste; een programma "
                                  "duurt hoogstens 24 uur");
        return QStringLiteral("de laatste druk, op +%1 s, valt na 24 uur; een programma duurt "
                              "hoogstens 24 uur")
            .arg(seconds(e.at));
    case Kind::TooMany:
        return QStringLiteral("hier komt het programma boven %1 drukken: meer passen er niet "
                              "in 24 uur, 20 ms uit elkaar")
            .arg(MaxProgramPresses);
    case Kind::PortNotFirst:
        return QStringLiteral("\"port\" hoort eenmaal bovenaan, voor de eerste druk (regel %1)")
            .arg(e.otherLine);
    case Kind::TwoPorts:
        return QStringLiteral("deze rij is op een andere poort dan regel %1; een programma "
                              "speelt op een poort")
            .arg(e.otherLine);
    case Kind::LineTooLong:
        return QStringLiteral("langer dan %1 bytes, niet gelezen").arg(MaxProgramLine);
    case Kind::BadRow:
        return QStringLiteral("geen rij van een journaal van dorq-pulse");
    case Kind::Empty:
        break;
    }
    return QStringLiteral("het programma heeft geen enkele druk");
}

} // namespace

QString programErrorText(const ProgramError &error)
{
    const QString text = problem(error);
    return error.line > 0 ? QStringLiteral("regel %1: %2").arg(error.line).arg(text) : text;
}

QString programFileText(const Error &e)
{
    const QString what = QStringLiteral("Kan het programma %1 niet lezen").arg(e.path);
    if (e.kind == ErrorKind::NotAFile)
        return what + QStringLiteral(": het is geen gewoon bestand (een FIFO, socket, apparaat "
                                     "of map); kies een bestand");
    return e.systemText.isEmpty() ? what : what + QStringLiteral(": ") + e.systemText;
}

QString playSummaryText(const PlaySummary &s)
{
    QString text = QStringLiteral("gespeeld: %1 verzonden, %2 geweigerd, %3 te laat")
                       .arg(s.sent)
                       .arg(s.refused)
                       .arg(s.late);
    if (s.unplayed > 0)
        text += QStringLiteral(", %1 niet gespeeld").arg(s.unplayed);
    if (s.lateness.count() > 0)
        text += QStringLiteral("; verzonden na het begin van hun stap: p50 %1 ms, p99 %2 ms, "
                               "max %3 ms")
                    .arg(ms(s.lateness.percentileUs(50)), ms(s.lateness.percentileUs(99)),
                         ms(s.lateness.maxUs()));
    if (s.skippedRows > 0)
        text += QStringLiteral("; %1 rijen van het journaal waren niet verzonden en zijn "
                               "overgeslagen")
                    .arg(s.skippedRows);
    return text;
}

} // namespace dorq
