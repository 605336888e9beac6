#pragma once

#include <QByteArray>
#include <QObject>
#include <cstdio>

class QSocketNotifier;

namespace dorq {

// Answers for standard output. Where the system can say whether a write would wait (Unix)
// they are written only then, so that a reader who stopped reading never blocks the
// program: signals are still acted on and the backlog tells the front end to hold back.
class AnswerWriter : public QObject
{
    Q_OBJECT
public:
    explicit AnswerWriter(std::FILE *out, QObject *parent = nullptr);

    void add(const QString &line);
    // Writes what the reader takes now; the rest goes as room comes.
    void flush();
    // Bytes added and not yet written.
    qsizetype backlog() const { return m_pending.size() - m_written; }

signals:
    void drained();
    // Nobody reads the answers any more.
    void failed();

private:
    void writeSome();

    std::FILE *m_out;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
    qsizetype m_written = 0;
    qsizetype m_chunk = 0; // the most one write may carry without waiting
    bool m_failed = false;
};

} // namespace dorq
