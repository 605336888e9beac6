#include "journal_messages.h"

#include "journal_place.h"

namespace dorq {

QString journalFailureText(const JournalFailure &f)
{
    const QString path = displayPath(f.path);
    switch (f.what) {
    case JournalFailure::What::MakeFolder:
        return QStringLiteral("Kan de map %1 voor het journaal niet maken: %2")
            .arg(path, f.systemText);
    case JournalFailure::What::Open:
        return QStringLiteral("Kan het journaal %1 niet openen: %2").arg(path, f.systemText);
    case JournalFailure::What::NotAFile:
        return QStringLiteral("Kan het journaal %1 niet openen: het is geen gewoon bestand (een "
                              "FIFO, socket of map); kies een bestand")
            .arg(path);
    case JournalFailure::What::UntrustedLink:
        return QStringLiteral("Kan het journaal %1 niet openen: het is een koppeling van een andere "
                              "gebruiker, of ligt in een map waarin anderen kunnen schrijven; als "
                              "root volgt dorq-pulse die niet")
            .arg(path);
    case JournalFailure::What::Write:
        return QStringLiteral("Kan niet in het journaal %1 schrijven: %2").arg(path, f.systemText);
    case JournalFailure::What::Sync:
        return QStringLiteral("Kan het journaal %1 niet naar schijf schrijven: %2")
            .arg(path, f.systemText);
    case JournalFailure::What::Replaced:
        return QStringLiteral("Het journaal %1 was verwijderd of vervangen; de volgende rijen "
                              "staan in een nieuw bestand op dezelfde plaats")
            .arg(path);
    }
    return path;
}

} // namespace dorq
