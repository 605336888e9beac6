#include "answer_writer.h"

namespace dorq {

// A Windows pipe cannot be asked whether a write would wait: answers go as they come.
AnswerWriter::AnswerWriter(std::FILE *out, QObject *parent) : QObject(parent), m_out(out) {}

AnswerWriter::~AnswerWriter() = default;

qsizetype AnswerWriter::backlog() const
{
    return m_pending.size();
}

void AnswerWriter::onProgress() {}

void AnswerWriter::add(const QString &line)
{
    m_pending += line.toUtf8() + '\n';
}

void AnswerWriter::flush()
{
    writeSome();
}

void AnswerWriter::writeSome()
{
    if (m_failed || m_pending.isEmpty())
        return;
    if (std::fwrite(m_pending.constData(), 1, std::size_t(m_pending.size()), m_out) !=
            std::size_t(m_pending.size()) ||
        std::fflush(m_out) != 0) {
        m_failed = true;
        emit failed();
    }
    m_pending.clear();
}

} // namespace dorq
