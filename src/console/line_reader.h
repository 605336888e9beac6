#pragma once

#include <QObject>
#include <istream>
#include <memory>

namespace dorq {

// Lines of a stream, read on a thread of their own and delivered to this object's thread,
// so that the event loop never waits for input. A thread rather than a notifier: on
// Windows a pipe cannot be polled.
class LineReader : public QObject
{
    Q_OBJECT
public:
    explicit LineReader(std::istream &in, QObject *parent = nullptr);
    ~LineReader() override;

signals:
    void lineRead(const QString &line);
    void ended();

private:
    struct Link;
    std::shared_ptr<Link> m_link;
};

} // namespace dorq
