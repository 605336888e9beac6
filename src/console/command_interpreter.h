#pragma once

#include "error.h"
#include "press_result.h"

#include <QString>

namespace dorq {

class Session;

// One line of a test script in, one answer out: "com1", "5", "quit". No I/O of its own, so
// that the console and tests drive it alike.
class CommandInterpreter
{
public:
    struct Answer
    {
        QString line;   // empty for a blank line and for "quit"
        QString advice; // what to do about an error, for a human
    };

    explicit CommandInterpreter(Session &session) : m_session(session) {}

    Answer execute(const QString &command);
    // A press made elsewhere (a program's), answered as the command would be.
    Answer pressed(const PressResult &result);
    Answer portLost(const Error &error);
    // A line longer than `limit` bytes, skipped to its end.
    Answer tooLong(qsizetype limit);

    bool quitRequested() const { return m_quit; }
    // Everything selected and sent: no error, unsent press or lost port in the run.
    bool allWent() const { return !m_failed; }

private:
    Answer failure(const QString &line, const QString &advice = {});
    Answer failure(const QString &kind, const Error &error);

    Session &m_session;
    bool m_quit = false;
    bool m_failed = false;
};

} // namespace dorq
