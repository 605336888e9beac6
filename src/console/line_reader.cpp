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
        std::string line;
        while (std::getline(in, line)) {
            const QString text = QString::fromStdString(line);
            link->post([link, text] { emit link->reader->lineRead(text); });
        }
        link->post([link] { emit link->reader->ended(); });
    }).detach();
}

LineReader::~LineReader()
{
    const std::lock_guard<std::mutex> lock(m_link->mutex);
    m_link->reader = nullptr;
}

} // namespace dorq
