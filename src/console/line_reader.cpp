#include "line_reader.h"

#include <mutex>
#include <string>
#include <thread>

namespace dorq {

// What the reading thread shares with the reader: cut when the reader goes, while the
// thread may still wait for a line that never comes.
struct LineReader::Link
{
    std::mutex mutex;
    LineReader *reader = nullptr;

    template <typename F> void post(F &&deliver)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (reader)
            QMetaObject::invokeMethod(reader, std::forward<F>(deliver), Qt::QueuedConnection);
    }
};

LineReader::LineReader(std::istream &in, QObject *parent)
    : QObject(parent), m_link(std::make_shared<Link>())
{
    m_link->reader = this;
    std::thread([link = m_link, &in] {
        // Pieces of a bounded size: a line without an end must not grow without one here.
        char buffer[MaxLine + 2];
        for (;;) {
            in.getline(buffer, sizeof buffer);
            const std::streamsize got = in.gcount();
            if (got == 0 && in.fail())
                break;
            const bool full = in.fail(); // the buffer filled before the line ended
            const bool lineEnded = !full && !in.eof();
            QByteArray piece(buffer, int(got - (lineEnded ? 1 : 0)));
            if (lineEnded)
                piece += '\n';
            if (full)
                in.clear();
            link->post([link, piece] { link->reader->take(piece); });
            if (in.eof())
                break;
        }
        link->post([link] { link->reader->end(); });
    }).detach();
}

LineReader::~LineReader()
{
    if (!m_link)
        return;
    const std::lock_guard<std::mutex> lock(m_link->mutex);
    m_link->reader = nullptr;
}

void LineReader::take(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const QByteArrayView piece = end < 0 ? bytes : bytes.first(end);
        if (!m_skipping && m_partial.size() + piece.size() > MaxLine) {
            m_skipping = true;
            m_partial.clear();
            emit lineTooLong();
        } else if (!m_skipping) {
            m_partial.append(piece);
        }
        if (end < 0)
            return;
        if (!m_skipping)
            emit lineRead(QString::fromUtf8(std::exchange(m_partial, {})));
        m_skipping = false;
        bytes = bytes.sliced(end + 1);
    }
}

void LineReader::end()
{
    if (m_ended)
        return;
    m_ended = true;
    if (!m_partial.isEmpty())
        emit lineRead(QString::fromUtf8(std::exchange(m_partial, {})));
    emit ended();
}

} // namespace dorq
