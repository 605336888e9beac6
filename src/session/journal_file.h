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
    // The rows appended with ids `first` to `last` that were still waiting are done, and
    // `written` of them are in the file; the others are not.
    virtual void settled(qint64 first, qint64 last, qint64 written) = 0;
};

// One journal file, appended to in each platform's own way. A row is handed over at once;
// the disk is waited for elsewhere, so that no press waits for it.
class JournalFile
{
public:
    // Null, and `failure` says why, when the file cannot be opened.
    static std::unique_ptr<JournalFile> open(const QByteArray &path, JournalFileListener &listener,
                                             Error &failure);
    virtual ~JournalFile() = default; // finishes, waiting a few seconds at most

    // `id` names the row when it is settled; ids grow.
    virtual void append(const QByteArray &row, qint64 id) = 0;
    // No more rows; those waiting still go, and the file finishes on its own.
    virtual void closeInput() = 0;
    // Waits at most `ms` for every row to be written and synced; rows still waiting then are
    // settled as not written.
    virtual void finish(int ms) = 0;
    // Whether finish() would return at once: the rows are settled and nothing will be heard
    // of this file any more. Before closeInput(), only when the file has failed for good.
    virtual bool ended() = 0;
};

} // namespace dorq
