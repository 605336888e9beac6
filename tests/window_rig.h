#pragma once

#include "form.h"
#include "main_window.h"
#include "port_memory.h"
#include "support/pty_pair.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace dorq::test {

struct Report
{
    int number;
    QString text;
};

// The channel of each line that arrived, in order: "355" for lines of channels 3, 5, 5.
inline QByteArray channelsOf(const QByteArray &lines)
{
    QByteArray channels;
    for (const QByteArray &line : lines.split('\n'))
        channels += line.left(1);
    return channels;
}

// Errors that would have gone to a message box; news is kept apart.
struct RecordingReporter : ErrorReporter
{
    std::vector<Report> reports;
    QStringList news;
    bool keepAnyway = false; // the answer to an offer to keep a device that failed
    void report(int number, const QString &text) override { reports.push_back({number, text}); }
    void inform(const QString &text) override { news << text; }
    bool offerToKeep(int number, const QString &text) override
    {
        report(number, text);
        return keepAnyway;
    }
};

// The real window on real lines. COM1 and COM2 are symbolic links, as socat makes them, so
// a test can take a device away, put something else in its place, or bring it back.
class WindowRig
{
public:
    WindowRig()
    {
        for (int port = 1; port <= 2; ++port) {
            m_lines[port - 1] = std::make_unique<PtyPair>();
            connectPort(port, line(port).deviceName());
        }
    }

    // COM1 and COM2 as the command line names them, unless `ports` says otherwise.
    void open(std::optional<PortMap> ports = std::nullopt)
    {
        WindowOptions options;
        options.session.ports =
            PortMemory().read(ports.value_or(PortMap{{1, portPath(1)}, {2, portPath(2)}})).ports;
        options.session.now = [this] { return now; };
        options.reporter = &reporter;
        if (!journalPath.isEmpty())
            options.session.journal = Journal::toFile(journalPath);
        window = std::make_unique<MainWindow>(std::move(options));
        window->show();
    }

    QString portPath(int port) const { return m_dir.filePath(QStringLiteral("com%1").arg(port)); }
    PtyPair &line(int port) { return *m_lines[std::size_t(port - 1)]; }
    // Points the port at a device; an empty target leaves nothing there.
    void connectPort(int port, const QString &target)
    {
        QFile::remove(portPath(port));
        if (!target.isEmpty())
            QFile::link(target, portPath(port));
    }
    // The far end comes back as a new virtual cable under the same name.
    void replaceLine(int port)
    {
        m_lines[std::size_t(port - 1)] = std::make_unique<PtyPair>();
        connectPort(port, line(port).deviceName());
    }

    template <typename T> T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QString text(const char *name) const
    {
        if (auto *label = control<QLabel>(name))
            return label->text();
        return control<QLineEdit>(name)->text();
    }
    QString logRow(int row) const
    {
        const QAbstractItemModel *model = control<QTableView>("MSFlexGrid1")->model();
        return model->data(model->index(row, 0)).toString();
    }
    int logRows() const { return control<QTableView>("MSFlexGrid1")->model()->rowCount(); }
    QRadioButton *option(int port) const
    {
        return control<QRadioButton>(port == 1 ? "Option1" : "Option2");
    }
    void press(int index)
    {
        QTest::mouseClick(window->channelButton(index), Qt::LeftButton);
        ++presses;
    }
    // Takes the clock off the real timer and delivers `count` ticks by hand.
    void tick(int count = 1)
    {
        auto *timer = window->findChild<QTimer *>(QStringLiteral("Timer1"));
        for (int i = 0; i < count; ++i) {
            QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
            timer->stop();
        }
    }
    void choose(int port) { QTest::mouseClick(option(port), Qt::LeftButton); }

    // Acts on the next top-level widget of type T (a menu, a dialog) once it is up, from
    // inside the event loop that shows it.
    template <typename T> static void whenShown(std::function<void(T *)> act)
    {
        auto *poll = new QTimer(QCoreApplication::instance());
        QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *shown = qobject_cast<T *>(widget); shown && shown->isVisible()) {
                    poll->deleteLater();
                    poll->stop();
                    act(shown);
                    return;
                }
        });
        poll->start(10);
    }

    LocalSecond now = localSecond(2026, 12, 7, 10, 20, 30);
    QString journalPath; // a journal there when set
    int presses = 0;
    RecordingReporter reporter;
    std::unique_ptr<MainWindow> window;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PtyPair> m_lines[2];
};

} // namespace dorq::test
