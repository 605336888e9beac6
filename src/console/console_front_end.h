#pragma once

#include "answer_writer.h"
#include "command_interpreter.h"
#include "line_reader.h"
#include "session.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <optional>

namespace dorq {

// The tool without a window: commands from standard input, one answer per command on
// standard output, diagnostics on standard error.
class ConsoleFrontEnd : public QObject
{
    Q_OBJECT
public:
    // Commands from standard input, answers to `out`, what people should know to standard
    // error. With a program, standard input is not read: the program plays from the next
    // whole second after "ready", on its own port, and the run ends with it.
    ConsoleFrontEnd(SessionOptions options, std::FILE *out, const PulseProgram *program = nullptr);

    // Ends the run as end of input does, at once: for SIGTERM and SIGINT.
    void quit();

signals:
    // The port is closed; the journal is synced when this object goes.
    void finished(int status);

private:
    void onLine(const QString &line);
    void onReady();
    void onClockStuck();
    void schedule();
    void runWaiting();
    void answer(const CommandInterpreter::Answer &answer);
    void finish();
    void journalEnding();
    void startPlay();
    void onPlayed(const PressResult &result);
    void endPlay();

    void report(const Error &error);

    Session m_session;
    CommandInterpreter m_interpreter;
    std::unique_ptr<LineReader> m_reader;
    AnswerWriter m_writer;
    QTimer m_clockWait;
    QTimer m_journalWait; // at the end: until the journal has ended, or its time is up
    QElapsedTimer m_ending;
    int m_journalMs = Journal::FinishMs;
    // In order; empty for a line that was too long. They wait while the clock is not ready,
    // and while the answers before them are not taken.
    std::deque<std::optional<QString>> m_waiting;
    bool m_running = false;    // past "ready"
    bool m_clockStuck = false; // gave up waiting for a second to begin
    bool m_scheduled = false;
    bool m_inputEnded = false;
    bool m_unanswered = false; // commands dropped, or answers nobody read
    bool m_finished = false;   // the port closed, the journal ending
    bool m_ended = false;      // finished() emitted
    const PulseProgram *m_program;
    std::unique_ptr<PulsePlayer> m_player;
    bool m_playEnded = false;
    bool m_playedWell = true;
    bool m_answersDropped = false;
};

} // namespace dorq
