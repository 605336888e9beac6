#pragma once

#include "error.h"

#include <QObject>
#include <QString>
#include <optional>

class QTableView;

namespace dorq {

class ErrorReporter;
class PulseLogModel;

// Writes the whole log as shown, newest first, to `path`: all of it or, on failure, nothing.
std::optional<Error> saveLog(const PulseLogModel &log, const QString &path);

// The log's copy and save: its context menu, Ctrl+C, Ctrl+A and "Log opslaan als..." (Ctrl+S).
class LogActions : public QObject
{
public:
    LogActions(QTableView *grid, const PulseLogModel &log, ErrorReporter &reporter);

    // The records selected, in the order shown, one per line; never the empty row.
    QString selectedRecords() const;

private:
    void saveAs();

    QTableView *m_grid;
    const PulseLogModel &m_log;
    ErrorReporter &m_reporter;
};

} // namespace dorq
