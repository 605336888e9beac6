#include "answer_writer.h"
#include "system.h"

#include <QSocketNotifier>

namespace dorq {

AnswerWriter::AnswerWriter(std::FILE *out, QObject *parent)
    : QObject(parent), m_out(out), m_thread(std::make_shared<OutputThread>(::fileno(out)))
{
    // A pty takes a blocking write whole or waits, whatever poll said: only the thread waits.
    m_notifier = new QSocketNotifier(m_thread->progressFd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &AnswerWriter::onProgress);
}

AnswerWriter::~AnswerWriter() = default;

void AnswerWriter::add(const QString &line)
{
    m_pending += line.toUtf8() + '\n';
}

void AnswerWriter::flush()
{
    writeSome();
}

qsizetype AnswerWriter::backlog() const
{
    return m_pending.size() + m_thread->waiting();
}

void AnswerWriter::writeSome()
{
    if (!m_failed && !m_pending.isEmpty() && m_thread->add(m_pending))
        m_pending.clear();
}

void AnswerWriter::onProgress()
{
    m_thread->take();
    if (m_failed)
        return;
    if (m_thread->failed()) {
        m_failed = true;
        m_notifier->setEnabled(false);
        emit failed();
    } else if (backlog() == 0) {
        emit drained();
    }
}

} // namespace dorq
