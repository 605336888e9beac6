#include "file_words.h"

#include "system.h"

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

} // namespace dorq
