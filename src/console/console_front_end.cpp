#include "console_front_end.h"

#include <iostream>

namespace dorq {

namespace {

bool writeLine(std::FILE *to, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    return std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to) ==
               std::size_t(bytes.size()) &&
           std::fflush(to) == 0;
}

} // namespace

ConsoleFrontEnd::ConsoleFrontEnd(SessionOptions options, std::FILE *out, std::FILE *err)
    : m_out(out), m_err(err), m_session(std::move(options)), m_interpreter(m_session),
#ifdef Q_OS_UNIX
      m_reader(std::make_unique<LineReader>(0))
#else
      m_reader(std::make_unique<LineReader>(std::cin))
#endif
{
    connect(m_reader.get(), &LineReader::lineRead, this, &ConsoleFrontEnd::onLine);
    connect(m_reader.get(), &LineReader::ended, this, [this] {
        m_inputEnded = true;
        runWaiting();
    });
    connect(&m_session, &Session::ready, this, [this] {
        writeLine(m_out, QStringLiteral("ready"));
        runWaiting();
    });
    connect(&m_session, &Session::portLost, this,
            [this](const Error &error) { answer(m_interpreter.portLost(error)); });
    connect(&m_session, &Session::journalFailed, this, &ConsoleFrontEnd::report);
}

void ConsoleFrontEnd::quit()
{
    m_unanswered = !m_waiting.isEmpty();
    m_waiting.clear();
    finish();
}

void ConsoleFrontEnd::onLine(const QString &line)
{
    m_waiting << line;
    runWaiting();
}

// Commands wait for the clock: a press in the first partial second would be stamped as
// if that second had begun when the program started.
void ConsoleFrontEnd::runWaiting()
{
    if (!m_session.isReady() || m_finished)
        return;
    while (!m_waiting.isEmpty()) {
        answer(m_interpreter.execute(m_waiting.takeFirst()));
        if (m_interpreter.quitRequested()) {
            m_waiting.clear();
            break;
        }
    }
    if (m_inputEnded || m_interpreter.quitRequested())
        finish();
}

void ConsoleFrontEnd::answer(const CommandInterpreter::Answer &answer)
{
    if (!answer.line.isEmpty() && !writeLine(m_out, answer.line)) {
        // Nobody reads the answers any more: the script has gone.
        m_unanswered = true;
        m_waiting.clear();
        finish();
    }
    if (!answer.advice.isEmpty())
        writeLine(m_err, answer.advice);
}

void ConsoleFrontEnd::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_session.comm().setPortOpen(false); // what the system took still leaves
    // A journal row that could not be written is lost evidence: no success.
    const bool journaled = m_session.finishJournal();
    emit finished(m_interpreter.allWent() && !m_unanswered && journaled ? 0 : 1);
}

void ConsoleFrontEnd::report(int number, const QString &text)
{
    writeLine(m_err, QStringLiteral("Fout %1: %2").arg(number).arg(text.simplified()));
}

} // namespace dorq
