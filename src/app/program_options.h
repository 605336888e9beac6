#pragma once

#include "system.h"

#include <QStringList>

namespace dorq {

struct ProgramOptions
{
    bool headless = false;
    PortMap ports; // --com1/--com2: for this run only
    enum class JournalKind { Daily, File, None } journal = JournalKind::Daily;
    QByteArray journalFile; // as the system spells it
    QString playFile;       // --play: a program or a journal to play; empty for none
    bool dryRun = false;    // --dry-run: its records listed, nothing sent
};

struct ParsedCommandLine
{
    ProgramOptions options;
    // When set, the program prints `output` (standard output for 0, else standard error)
    // and ends with this status: --help, --version, or a usage error (2).
    int exitStatus = -1;
    QString output;
};

// `native`, where given, is the command line as the system passed it: a file name that is
// not valid in the locale's encoding is taken from there, byte for byte.
ParsedCommandLine parseCommandLine(const QStringList &arguments,
                                   const QList<QByteArray> &native = {});

} // namespace dorq
