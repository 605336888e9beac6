#include "journal_place.h"

namespace dorq {

QString dailyJournalName(const QDate &date)
{
    return date.toString(QStringLiteral("'journal-'yyyy-MM-dd'.csv'"));
}

} // namespace dorq
