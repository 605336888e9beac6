#pragma once

#include <QByteArray>
#include <QObject>
#include <istream>
#include <memory>

class QSocketNotifier;

namespace dorq {

// Lines of input, delivered to this object's thread so that the event loop never waits for
// them. Where the system can watch a descriptor (Unix) the event loop reads it; where a pipe
// cannot be polled (Windows) a thread of its own reads the stream.
class LineReader : public QObject
{
    Q_OBJECT
public:
    explicit LineReader(std::istream &in, QObject *parent = nullptr);
#ifdef Q_OS_UNIX
    explicit LineReader(int fd, QObject *parent = nullptr);
#endif
    ~LineReader() override;

signals:
    void lineRead(const QString &line);
    void ended();

private:
    void readSome();

    struct Link;
    std::shared_ptr<Link> m_link;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_partial; // a line whose end has not come yet
};

} // namespace dorq
