#pragma once

#include "error.h"
#include "system.h"

#include <QByteArray>
#include <memory>

namespace dorq {

// What a journal file could not do, as the journal's Error: the path as people read it.
inline Error journalError(ErrorStep step, ErrorKind kind, int number, const QByteArray &path)
{
    Error e;
    e.step = step;
    e.kind = kind;
    e.number = number;
    e.systemText = systemText(number);
    e.path = displayPath(path);
    return e;
}

// Hears how the rows of a journal file fare, on the thread that appends them.
class JournalFileListener
{
public:
    virtual ~JournalFileListener() = default;
    virtual void failed(const Error &failure) = 0;
    virtual void written() = 0; // rows go through (again)
};

// One journal file, appended to in each platform's own way. A row is handed over at once;
// the disk is waited for elsewhere, so that no press waits for it.
class JournalFile
{
public:
    // Null, and `failure` says why, when the file cannot be opened.
    static std::unique_ptr<JournalFile> open(const QByteArray &path, JournalFileListener &listener,
                                             Error &failure);
    virtual ~JournalFile() = default; // finishes

    virtual void append(const QByteArray &row) = 0;
    // No more rows; the file finishes on its own.
    virtual void closeInput() = 0;
    // Waits until every row is written and synced, or lost: true when none was lost.
    virtual bool finish() = 0;
    // Whether finish() would return at once: after closeInput(), once the rows are done.
    virtual bool ended() = 0;
};

} // namespace dorq
