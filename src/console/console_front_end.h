#pragma once

#include "command_interpreter.h"
#include "line_reader.h"
#include "session.h"

#include <QStringList>
#include <cstdio>

namespace dorq {

// The tool without a window: commands from standard input, one answer per command on
// standard output, diagnostics on standard error.
class ConsoleFrontEnd : public QObject
{
    Q_OBJECT
public:
    // Commands from standard input.
    ConsoleFrontEnd(SessionOptions options, std::FILE *out, std::FILE *err);

    // Ends the run as end of input does, at once: for SIGTERM and SIGINT.
    void quit();

signals:
    // The port is closed; the journal is synced when this object goes.
    void finished(int status);

private:
    void onLine(const QString &line);
    void runWaiting();
    void answer(const CommandInterpreter::Answer &answer);
    void finish();

    void report(int number, const QString &text);

    std::FILE *m_out;
    std::FILE *m_err;
    Session m_session;
    CommandInterpreter m_interpreter;
    std::unique_ptr<LineReader> m_reader;
    QStringList m_waiting; // read before the clock was ready, in order
    bool m_inputEnded = false;
    bool m_unanswered = false; // commands dropped, or answers nobody read
    bool m_finished = false;
};

} // namespace dorq
