#pragma once

#include "journal_failure.h"

#include <QByteArray>
#include <memory>

namespace dorq {

// Hears how the rows of a journal file fare, on the thread that appends them.
class JournalFileListener
{
public:
    virtual ~JournalFileListener() = default;
    virtual void failed(const JournalFailure &failure) = 0;
    virtual void written() = 0; // rows go through (again)
};

// One journal file, appended to in each platform's own way. A row is handed over at once;
// the disk is waited for elsewhere, so that no press waits for it.
class JournalFile
{
public:
    // Null, and `failure` says why, when the file cannot be opened.
    static std::unique_ptr<JournalFile> open(const QByteArray &path,
                                             JournalFileListener &listener,
                                             JournalFailure &failure);
    virtual ~JournalFile() = default; // finishes

    virtual void append(const QByteArray &row) = 0;
    // No more rows; the file finishes on its own.
    virtual void closeInput() = 0;
    // Waits until every row is written and synced, or lost: true when none was lost.
    virtual bool finish() = 0;
};

} // namespace dorq
