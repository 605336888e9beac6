#pragma once

#include <QByteArray>
#include <QString>
#include <termios.h>

namespace dorq::test {

// A virtual null-modem cable: the program opens the device end by name, the test reads
// and writes at the peer end. Bytes read at the peer are what went over the line.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    QString deviceName() const { return m_name; }

    // Reads until `count` bytes arrived or `timeoutMs` passed, running Qt's events meanwhile.
    QByteArray read(int count, int timeoutMs = 2000);
    QByteArray readAvailable(int waitMs = 50);
    // What has arrived already, without letting the program's event loop run.
    QByteArray readNow();
    void write(const QByteArray &bytes);
    termios settings() const;
    // Descriptors of the device end held by the program under test (the pair's own excluded).
    int programDescriptors() const;

    // The far end goes away, as when the other program or the cable is gone.
    void hangUp();

private:
    int m_peer = -1;
    int m_device = -1; // kept open so the line survives the program closing its end
    QString m_name;
};

// How many of this process's file descriptors refer to `path`: the ground truth for
// "is the port open".
int openDescriptorsOf(const QString &path);

// The newest child of process `pid` (0: this one), 0 for none: the journal's writer of a
// program that has no other.
int newestChild(qint64 pid = 0);

// CPU time this process spends while Qt's event loop runs for `ms`, as a share of one core.
double cpuShareWhileRunning(int ms);

} // namespace dorq::test
