#pragma once

#include <QByteArray>
#include <QObject>
#include <cstdio>
#include <memory>

class QSocketNotifier;

namespace dorq {
class OutputThread;
}

namespace dorq {

// Answers for standard output. Where the system can say whether a write would wait (Unix)
// they are written by a thread of their own, so that a reader who stopped reading never
// blocks the program: signals are still acted on and the backlog tells the front end to
// hold back.
class AnswerWriter : public QObject
{
    Q_OBJECT
public:
    explicit AnswerWriter(std::FILE *out, QObject *parent = nullptr);
    ~AnswerWriter() override;

    void add(const QString &line);
    // Hands on what was added; it goes as the reader takes it.
    void flush();
    // Bytes added and not yet written.
    qsizetype backlog() const;

signals:
    void drained();
    // Nobody reads the answers any more.
    void failed();

private:
    void writeSome();
    void onProgress();

    std::FILE *m_out;
    std::shared_ptr<OutputThread> m_thread; // Unix
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
    bool m_failed = false;
};

} // namespace dorq
