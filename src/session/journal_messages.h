#pragma once

#include "journal_failure.h"

#include <QString>

namespace dorq {

// The operator's words for what the journal could not do, naming the file or folder.
QString journalFailureText(const JournalFailure &failure);

} // namespace dorq
