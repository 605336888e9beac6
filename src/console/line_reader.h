#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <istream>
#include <memory>

class QSocketNotifier;

namespace dorq {

// Lines of input, delivered to this object's thread so that the event loop never waits for
// them. Where the system can watch a descriptor (Unix) the event loop reads it, a slice at a
// time; where a pipe cannot be polled (Windows) a thread of its own reads the stream.
class LineReader : public QObject
{
    Q_OBJECT
public:
    // Longer lines are no command: they are told once and skipped to their end, so that a
    // stream without line breaks costs neither memory nor time beyond its length.
    static constexpr qsizetype MaxLine = 4096;

    // This process's standard input, read as the platform allows.
    static std::unique_ptr<LineReader> standardInput();

    explicit LineReader(std::istream &in, QObject *parent = nullptr);
    // A descriptor the event loop can watch (Unix).
    explicit LineReader(int fd, QObject *parent = nullptr);
    ~LineReader() override;

    // While paused nothing more is read, so that a reader that is behind holds the writer back.
    void setPaused(bool paused);

signals:
    void lineRead(const QString &line);
    void lineTooLong();
    void ended();

private:
    void take(QByteArrayView bytes);
    void end();

    struct Link;
    std::shared_ptr<Link> m_link;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    bool m_ended = false;
    QByteArray m_partial; // a line whose end has not come yet
    bool m_skipping = false; // the rest of a line that was too long
};

} // namespace dorq
