#pragma once

#include <QByteArray>
#include <QString>

namespace dorq {

// Something the journal could not do, as a value: the front ends choose the words.
struct JournalFailure
{
    enum class What {
        MakeFolder,  // the folder of a daily journal could not be made
        Open,        // the file could not be opened or created
        NotAFile,    // a FIFO, socket or folder: refused, it could block or mislead
        UntrustedLink, // as root: a link of another user, or in a folder others can write
        Write,       // a row did not reach the file
        Sync,        // rows written may not be on the disk
        Replaced,    // the file was deleted or replaced; a new one is in its place
    };
    What what = What::Write;
    int number = 0;       // the system's error number, 0 where there is none
    QString systemText;   // the system's text for it
    QByteArray path;      // as the system spells it: the file, or the folder for MakeFolder
};

} // namespace dorq
