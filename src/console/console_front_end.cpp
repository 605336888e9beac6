#include "console_front_end.h"

#include "words.h"

#include <QElapsedTimer>

namespace dorq {

namespace {

// Bounds that keep the event loop, and so the clock's timer and the signals, served however
// fast commands come: commands run a few milliseconds at a time, input is read only while
// few wait, and commands wait while their answers would pile up unread.
constexpr int SliceMs = 2;
constexpr std::size_t MaxWaiting = 1024;
constexpr qsizetype MaxBacklog = 1 << 16;
constexpr int ClockWaitMs = 3000;
constexpr qsizetype MaxPlayBacklog = 1 << 20;

void tell(const QString &text)
{
    writeStandardError(oneLine(text) + QLatin1Char('\n'));
}

} // namespace

ConsoleFrontEnd::ConsoleFrontEnd(SessionOptions options, std::FILE *out,
                                 const PulseProgram *program)
    : m_session(std::move(options)), m_interpreter(m_session),
      m_reader(program ? nullptr : LineReader::standardInput()), m_writer(out), m_program(program)
{
    if (m_reader) {
        connect(m_reader.get(), &LineReader::lineRead, this, &ConsoleFrontEnd::onLine);
        connect(m_reader.get(), &LineReader::lineTooLong, this, [this] {
            m_waiting.emplace_back();
            schedule();
        });
        connect(m_reader.get(), &LineReader::ended, this, [this] {
            m_inputEnded = true;
            schedule();
        });
    }
    connect(&m_writer, &AnswerWriter::drained, this, &ConsoleFrontEnd::schedule);
    connect(&m_writer, &AnswerWriter::failed, this, [this] {
        // Nobody reads the answers any more: the script has gone.
        m_unanswered = true;
        finish();
    });
    connect(&m_session, &Session::ready, this, &ConsoleFrontEnd::onReady);
    connect(&m_session, &Session::portLost, this, [this](const Error &error) {
        answer(m_interpreter.portLost(error));
        m_writer.flush();
    });
    connect(&m_session, &Session::journalFailed, this, &ConsoleFrontEnd::report);
    connect(&m_session, &Session::notice, this, &ConsoleFrontEnd::report);
    m_journalWait.setInterval(5);
    connect(&m_journalWait, &QTimer::timeout, this, &ConsoleFrontEnd::journalEnding);
    m_clockWait.setSingleShot(true);
    connect(&m_clockWait, &QTimer::timeout, this, &ConsoleFrontEnd::onClockStuck);
    m_clockWait.start(ClockWaitMs);
}

void ConsoleFrontEnd::quit()
{
    endPlay();
    m_unanswered = m_unanswered || !m_waiting.empty() || m_writer.backlog() > 0;
    m_waiting.clear();
    // A signal ends the run at once: the journal's last rows get a moment, not seconds.
    m_journalMs = Journal::SignalFinishMs;
    finish();
    journalEnding();
}

void ConsoleFrontEnd::onLine(const QString &line)
{
    m_waiting.emplace_back(line);
    if (m_waiting.size() >= MaxWaiting)
        m_reader->setPaused(true);
    schedule();
}

void ConsoleFrontEnd::onReady()
{
    if (m_running)
        return;
    m_running = true;
    m_clockWait.stop();
    m_writer.add(QStringLiteral("ready"));
    m_writer.flush();
    if (m_program)
        return startPlay();
    schedule();
}

// Without a second that begins, commands would wait for ever, and the end of input with them.
void ConsoleFrontEnd::onClockStuck()
{
    m_clockStuck = true;
    tell(QStringLiteral("dorq-pulse: de klok van het systeem loopt niet: na %1 "
                        "seconden is er nog geen nieuwe seconde begonnen; de "
                        "commando's lopen toch, met tijden die niet kloppen")
             .arg(ClockWaitMs / 1000));
    onReady();
}

void ConsoleFrontEnd::schedule()
{
    if (m_scheduled || m_finished)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(this, &ConsoleFrontEnd::runWaiting, Qt::QueuedConnection);
}

// Commands wait for the clock: a press in the first partial second would be stamped as
// if that second had begun when the program started.
void ConsoleFrontEnd::runWaiting()
{
    m_scheduled = false;
    if (!m_running || m_finished)
        return;
    QElapsedTimer slice;
    slice.start();
    while (!m_waiting.empty() && m_writer.backlog() < MaxBacklog && !m_finished) {
        const std::optional<QString> command = std::move(m_waiting.front());
        m_waiting.pop_front();
        answer(command ? m_interpreter.execute(*command)
                       : m_interpreter.tooLong(LineReader::MaxLine));
        if (m_interpreter.quitRequested()) {
            m_waiting.clear();
            m_inputEnded = true;
            if (m_reader)
                m_reader->setPaused(true);
            break;
        }
        if (slice.hasExpired(SliceMs)) {
            schedule();
            break;
        }
    }
    m_writer.flush();
    if (m_finished)
        return;
    if (!m_interpreter.quitRequested() && m_reader)
        m_reader->setPaused(m_waiting.size() >= MaxWaiting);
    if (m_inputEnded && m_waiting.empty() && m_writer.backlog() == 0)
        finish();
}

void ConsoleFrontEnd::answer(const CommandInterpreter::Answer &answer)
{
    if (!answer.line.isEmpty())
        m_writer.add(oneLine(answer.line));
    if (!answer.advice.isEmpty())
        tell(answer.advice);
}

void ConsoleFrontEnd::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_reader)
        m_reader->setPaused(true);
    m_clockWait.stop();
    m_session.closePort(); // what the system took still leaves
    m_session.closeJournal();
    m_ending.start();
    m_journalWait.start();
    journalEnding();
}

void ConsoleFrontEnd::journalEnding()
{
    if (m_ended || (!m_session.journalEnded() && !m_ending.hasExpired(m_journalMs)))
        return;
    m_ended = true;
    m_journalWait.stop();
    // A journal row that could not be written is lost evidence: no success.
    const bool journaled = m_session.finishJournal(0);
    if (const auto loss = m_session.journalLoss())
        report(*loss);
    const bool went = m_interpreter.allWent() && !m_unanswered && !m_clockStuck && m_playedWell;
    emit finished(went && journaled ? 0 : 1);
}

void ConsoleFrontEnd::startPlay()
{
    m_player = std::make_unique<PulsePlayer>(m_session, *m_program);
    // A wall clock that stands still would hold the program for ever.
    if (m_clockStuck)
        return endPlay();
    if (const int port = m_program->port()) {
        answer(m_interpreter.execute(QStringLiteral("com%1").arg(port)));
        m_writer.flush();
        if (m_session.openPort() != port)
            return endPlay();
    }
    connect(m_player.get(), &PulsePlayer::pressed, this, &ConsoleFrontEnd::onPlayed);
    connect(m_player.get(), &PulsePlayer::finished, this, &ConsoleFrontEnd::endPlay);
    m_player->start();
}

void ConsoleFrontEnd::onPlayed(const PressResult &result)
{
    // A press cannot wait for its answer to be read: answers nobody takes are left out.
    if (m_writer.backlog() > MaxPlayBacklog) {
        if (!std::exchange(m_answersDropped, true))
            tell(QStringLiteral("dorq-pulse: niemand leest de antwoorden; het programma speelt "
                                "door, zonder ze"));
        m_unanswered = true;
        return;
    }
    answer(m_interpreter.pressed(result));
    m_writer.flush();
}

// Told once: when the program has played, or the run ends before it has.
void ConsoleFrontEnd::endPlay()
{
    if (!m_program || std::exchange(m_playEnded, true))
        return;
    PlaySummary summary;
    summary.unplayed = m_program->presses();
    summary.skippedRows = m_program->skippedRows();
    if (m_player) {
        m_player->stop();
        summary = m_player->summary();
    }
    m_playedWell = summary.allOnTheirSteps();
    tell(QStringLiteral("dorq-pulse: ") + playSummaryText(summary));
    m_inputEnded = true; // the run ends once the answers are out
    schedule();
}

void ConsoleFrontEnd::report(const Error &error)
{
    // A journal made anew, a lock file not believed, rows lost: news without a number.
    if (error.kind == ErrorKind::Replaced || error.number == 0)
        return tell(QStringLiteral("dorq-pulse: ") + errorText(error));
    tell(QStringLiteral("Fout %1: %2").arg(error.number).arg(errorText(error)));
}

} // namespace dorq
