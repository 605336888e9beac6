// The real program without a window, driven as a test script drives it: commands on its
// standard input, answers on its standard output, lines at the far end of a pty.
#include "support/csv.h"
#include "support/pty_pair.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace dorq::test;

namespace {

struct Headless
{
    // `environment` as NAME=value, added to the test's own.
    explicit Headless(const QStringList &arguments, const QString &input = {},
                      const QStringList &environment = {})
    {
        if (!input.isEmpty())
            process.setStandardInputFile(input);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &setting : environment)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(DORQ_PROGRAM), QStringList{"--headless"} + arguments);
        process.waitForStarted(5000);
    }
    ~Headless()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    void send(const QByteArray &commands) { process.write(commands); }
    // The next answer, or an empty string when none came in time.
    QString answer(int timeoutMs = 5000)
    {
        QElapsedTimer waited;
        waited.start();
        while (!process.canReadLine() && !waited.hasExpired(timeoutMs))
            process.waitForReadyRead(50);
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    QStringList answers(int count)
    {
        QStringList got;
        while (got.size() < count) {
            const QString line = answer();
            if (line.isEmpty())
                break;
            got << line;
        }
        return got;
    }
    int exitStatus()
    {
        process.closeWriteChannel();
        return process.waitForFinished(10000) ? process.exitCode() : -1;
    }

    QProcess process;
};

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

} // namespace

TEST(Headless, RunsAScriptOnARealLine)
{
    PtyPair line;
    QTemporaryDir dir;
    const QString journal = dir.filePath("run.csv");
    Headless tool({"--com1", line.deviceName(), "--journal", journal});
    tool.send("com1\n3\n 5\n8\nquit\n7\n"); // waits, in order, until the clock is ready
    const QStringList answers = tool.answers(5);
    ASSERT_EQ(answers.size(), 5) << qPrintable(tool.process.readAllStandardError());
    EXPECT_EQ(answers[0], "ready");
    EXPECT_EQ(answers[1], "ok PLC op COM1 9600,O,8,1");
    QByteArray expected;
    for (int i = 2; i < 5; ++i) {
        ASSERT_TRUE(answers[i].startsWith("sent ")) << qPrintable(answers[i]);
        expected += answers[i].mid(5).toLatin1() + "\r\n";
    }
    EXPECT_EQ(tool.exitStatus(), 0);
    EXPECT_EQ(tool.answer(100), "") << "nothing after quit";
    EXPECT_EQ(line.read(expected.size() + 16, 500), expected);

    const QList<QStringList> rows = readCsv(journal);
    ASSERT_EQ(rows.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rows[i][4] + "\r\n", expected.mid(i * 16, 16)) << "journal row " << i;

    // By a name that is not UTF-8, exactly as the system spells it.
    const QByteArray name = QFile::encodeName(dir.path()) + "/p\xff\xfename";
    ASSERT_EQ(::symlink(QFile::encodeName(line.deviceName()).constData(), name.constData()), 0);
    QProcess shell;
    shell.start("sh", {"-c",
                       R"sh(printf 'com1\n5\n' | "$0" --headless --no-journal --com1 "$1/$(printf 'p\377\376name')")sh",
                       DORQ_PROGRAM, dir.path()});
    ASSERT_TRUE(shell.waitForFinished(10000));
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardOutput().constData();
    EXPECT_EQ(line.read(16).left(3), "5  ");
    ::unlink(name.constData()); // a name Qt could not remove
}

TEST(Headless, ExitStatusSaysWhetherEverythingWent)
{
    QTemporaryDir dir;
    PtyPair line;
    const QString fifo = dir.filePath("fifo");
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    const struct
    {
        const char *what;
        QStringList arguments;
        QByteArray commands;
        int status;
        QByteArray says; // on standard output, or standard error for a usage error
        QStringList environment = {};
    } rows[] = {
        {"missing device",
         {"--no-journal", "--com1", dir.filePath("ttyGONE")},
         "com1\n",
         1,
         "error 2: Kan "},
        {"press without a port", {"--no-journal"}, "4\n", 1, "unsent 4  "},
        {"unknown command", {"--no-journal"}, "hello\n", 1, "error 380: unknown command \"hello\""},
        {"nothing to do", {"--no-journal"}, "", 0, "ready"},
        {"every press sent",
         {"--no-journal", "--com1", line.deviceName()},
         "com1\n1\n",
         0,
         "sent 1"},
        {"every press sent, no row written",
         {"--journal", "/dev/full", "--com1", line.deviceName()},
         "com1\n1\n",
         1,
         "sent 1"},
        {"unknown option", {"--fast"}, "", 2, "Onbekende optie: 'fast'"},
        {"empty device", {"--com1", ""}, "", 2, "--com1 heeft een apparaat nodig"},
        {"journal that cannot be opened",
         {"--journal", dir.filePath("no/such/dir/j.csv")},
         "",
         2,
         "Kan het journaal"},
        {"line too long, told once and skipped to its end",
         {"--no-journal"},
         QByteArray(100000, 'x') + "\n1\n",
         1,
         "ready\nerror 380: command longer than 4096 bytes, skipped\nunsent 1  "},
        {"control characters echoed",
         {"--no-journal"},
         "a\rb\x01\x7f\n",
         1,
         "error 380: unknown command \"a\\rb\\x01\\x7f\"\n"},
        {"device name with a line break",
         {"--no-journal", "--com1", dir.filePath("tty\nGONE")},
         "com1\n",
         1,
         "/tty\\nGONE niet openen: No such file or directory\n"},
        {"journal on a FIFO", {"--journal", fifo}, "", 2, "geen gewoon bestand"},
        {"daily journal whose folder cannot be made",
         {},
         "",
         2,
         "Kan de map " + dir.filePath("fifo").toUtf8() + "/dorq-pulse voor het journaal niet maken",
         {"XDG_DATA_HOME=" + fifo}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Headless tool(row.arguments, {}, row.environment);
        tool.send(row.commands);
        EXPECT_EQ(tool.exitStatus(), row.status);
        const QByteArray said = row.status == 2 ? tool.process.readAllStandardError()
                                                : tool.process.readAllStandardOutput();
        EXPECT_TRUE(said.contains(row.says)) << said.constData();
        EXPECT_FALSE(tool.process.readAllStandardError().contains("\n\n")) << "advice whole";
    }
}

TEST(Headless, AHangUpWhileIdleIsToldOnceAndThePressAfterItIsUnsent)
{
    PtyPair line;
    Headless tool({"--com1", line.deviceName(), "--no-journal"});
    tool.send("com1\n");
    EXPECT_EQ(tool.answers(2).value(1), "ok PLC op COM1 9600,O,8,1");
    line.hangUp();
    EXPECT_TRUE(tool.answer().startsWith("lost 5: Verbinding met " + line.deviceName()));
    tool.send("1\n");
    EXPECT_TRUE(tool.answer().startsWith("unsent 1  "));
    EXPECT_EQ(tool.exitStatus(), 1);
    EXPECT_FALSE(tool.process.readAllStandardOutput().contains("lost")) << "told once";
}

TEST(Headless, EndsOnSignalsAtOnceLosingNoLineItAnsweredSent)
{
    PtyPair line; // its far end reads nothing until the tool is gone
    Headless tool({"--com1", line.deviceName(), "--no-journal"});
    tool.send("com1\n" + QByteArray("1\n2\n3\n4\n").repeated(500));
    const QStringList answers = tool.answers(2 + 2000);
    ASSERT_EQ(answers.size(), 2002);
    QByteArray sent;
    for (const QString &answer : answers.mid(2)) {
        if (answer.startsWith("sent "))
            sent += answer.mid(5).toLatin1() + "\r\n";
        else
            ASSERT_TRUE(answer.startsWith("error 11: ")) << qPrintable(answer);
    }
    ASSERT_GT(sent.size(), 0);
    ASSERT_LT(sent.size(), 2000 * 16) << "the far end's buffer filled";

    QElapsedTimer ending;
    ending.start();
    ::kill(pid_t(tool.process.processId()), SIGTERM);
    ASSERT_TRUE(tool.process.waitForFinished(5000));
    // The whole process's end, a sanitizer's leak check included; closing alone is timed to
    // 100 ms in the window's fault tests. Waiting for this far end would never end.
    EXPECT_LT(ending.elapsed(), 500) << "no wait for a far end that does not read";
    EXPECT_EQ(tool.process.exitCode(), 1);
    EXPECT_EQ(line.read(sent.size(), 5000), sent);
    EXPECT_EQ(line.readAvailable(50), QByteArray());

    // Commands it never acted on, or answers nobody read, are no success.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Headless early({"--no-journal"});
        early.send("com1\n1\n");
        const QString status = QStringLiteral("/proc/%1/status").arg(early.process.processId());
        const auto handles = [&] { // its SIGINT handler is in place
            QFile file(status);
            file.open(QIODevice::ReadOnly);
            const QByteArray text = file.readAll();
            const qsizetype at = text.indexOf("SigCgt:");
            return at >= 0 && (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) &
                               (1ULL << (SIGINT - 1)));
        };
        ASSERT_TRUE(QTest::qWaitFor(handles, 5000));
        ::kill(pid_t(early.process.processId()), SIGINT); // before "ready", as a rule
        ASSERT_TRUE(early.process.waitForFinished(5000));
        if (early.process.readAllStandardOutput().contains("ready"))
            continue; // the clock was quicker: not the case this is about
        EXPECT_EQ(early.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(early.process.exitCode(), 1);
        break;
    }
    Headless unread({"--no-journal"});
    unread.process.closeReadChannel(QProcess::StandardOutput);
    unread.send("1\n2\n");
    EXPECT_EQ(unread.exitStatus(), 1) << "not killed by SIGPIPE";
}

namespace {

// A disk that takes 0.3 s to sync and 0.5 ms more for each write, mounted for as long as it
// lives and unmounted for sure: a FUSE mount left behind is dead and busy until root clears it.
class SlowDisk
{
public:
    explicit SlowDisk(const QString &folder) : m_mountPoint(folder + "/disk")
    {
#ifdef DORQ_SLOW_DISK
        // Without /etc/mtab, fusermount3 unmounts for root only.
        if (::geteuid() != 0 && !QFile::exists("/etc/mtab"))
            return;
        QDir(folder).mkpath("back");
        QDir(folder).mkpath("disk");
        m_server.start(DORQ_SLOW_DISK, {folder + "/back", m_mountPoint, "300", "500"});
        m_server.waitForStarted(5000);
        // Up, or given up: a server that ended has nothing mounted.
        (void)QTest::qWaitFor([&] { return mounted() || m_server.state() != QProcess::Running; },
                              20000);
#endif
    }
    ~SlowDisk()
    {
        unmountForSure();
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(-1);
        }
        unmountForSure(); // a server that ended without unmounting leaves a dead mount
        if (mounted())
            ADD_FAILURE() << "still mounted: " << qPrintable(m_mountPoint);
    }
    bool mounted() const
    {
        QFile mounts("/proc/self/mounts");
        mounts.open(QIODevice::ReadOnly);
        return mounts.readAll().contains(' ' + QFile::encodeName(m_mountPoint) + ' ');
    }
    QString mountPoint() const
    {
        return m_mountPoint;
    }

private:
    // A writer killed with its program may hold a file open a little longer: busy until it
    // ends, and detached from the tree if it never does.
    void unmountForSure()
    {
        if (mounted())
            (void)QTest::qWaitFor([&] { return unmount({"-u"}); }, 10000);
        if (mounted())
            unmount({"-u", "-z"});
    }
    bool unmount(const QStringList &how)
    {
        QProcess fusermount;
        fusermount.start("fusermount3", how + QStringList{"-q", "--", m_mountPoint});
        if (!fusermount.waitForFinished(10000)) {
            fusermount.kill();
            fusermount.waitForFinished(-1);
        }
        return !mounted();
    }

    QString m_mountPoint;
    QProcess m_server;
};

} // namespace

TEST(Headless, KeepsEveryRowOfAPressItAnsweredWhenKilledAndSharesAJournal)
{
    QTemporaryDir dir;
    const SlowDisk disk(dir.filePath("slow")); // also on a slow disk
    if (!disk.mounted())
        std::fprintf(stderr, "No slow FUSE disk here: tried on this disk only.\n");
    for (const QString &folder : {dir.path(), disk.mountPoint()}) {
        if (folder != dir.path() && !disk.mounted())
            break;
        SCOPED_TRACE(qPrintable(folder));
        const QString journal = folder + "/shared.csv";
        const int presses = 300;
        Headless first({"--journal", journal}), second({"--journal", journal});
        for (Headless *tool : {&first, &second})
            tool->send(QByteArray("1\n2\n3\n").repeated(presses / 3));
        for (Headless *tool : {&first, &second})
            ASSERT_EQ(tool->answers(presses + 1).size(), presses + 1);
        first.process.kill(); // no chance to sync or close
        EXPECT_EQ(second.exitStatus(), 1) << "presses without a port";
        first.process.waitForFinished();

        // The killed run's writer still empties the pipe it left.
        (void)QTest::qWaitFor([&] { return readCsv(journal).size() >= 2 * presses; }, 10000);
        const QList<QStringList> rows = readCsv(journal);
        ASSERT_EQ(rows.size(), 2 * presses) << "no row lost, none split";
        QMap<QString, int> lastSeq;
        for (const QStringList &row : rows) {
            ASSERT_EQ(row.size(), 8) << qPrintable(row.join(','));
            EXPECT_EQ(row[7], "no port");
            EXPECT_EQ(row[2].toInt(), lastSeq[row[1]] + 1) << "each run counts on without a gap";
            lastSeq[row[1]] = row[2].toInt();
        }
        EXPECT_EQ(lastSeq.size(), 2);
    }
}

// The last line of what it said on standard error that holds `text`.
static QString saidLine(const QByteArray &said, const char *text)
{
    const QStringList lines = QString::fromUtf8(said).split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->contains(text))
            return *line;
    return {};
}

TEST(Headless, AStalledJournalHoldsUpNoPressNoClockAndNoEnd)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("slow/back");
    QDir(dir.path()).mkpath("slow/disk");
    QProcess slowDisk; // a disk that stops answering, as a hung network share does
#ifdef DORQ_SLOW_DISK
    slowDisk.start(DORQ_SLOW_DISK, {dir.filePath("slow/back"), dir.filePath("slow/disk"), "0", "0"});
#endif
    const auto mounted = [&] {
        QFile mounts("/proc/self/mounts");
        mounts.open(QIODevice::ReadOnly);
        return mounts.readAll().contains(dir.filePath("slow/disk").toUtf8());
    };
    const bool fuse = slowDisk.waitForStarted(5000) && QTest::qWaitFor(mounted, 5000);
    const pid_t disk = pid_t(slowDisk.processId());
    const auto unmount = qScopeGuard([&] {
        if (fuse)
            QProcess::execute("fusermount3", {"-u", dir.filePath("slow/disk")});
        slowDisk.waitForFinished(5000);
    });
    const struct
    {
        const char *what;
        QString journal;
        std::function<void(pid_t writer)> stall, mend;
    } rows[] = {
        {"a stopped writer", dir.filePath("j.csv"), [](pid_t w) { ::kill(w, SIGSTOP); },
         [](pid_t w) { ::kill(w, SIGKILL); }},
        {"a hung disk", dir.filePath("slow/disk/j.csv"), [&](pid_t) { ::kill(disk, SIGSTOP); },
         [&](pid_t) { ::kill(disk, SIGCONT); }},
    };
    const auto gone = [](pid_t pid) { // or ended, and not waited for by its new parent
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    };
    for (const auto &row : rows) {
        if (row.journal.contains("slow") && !fuse) {
            std::fprintf(stderr, "No FUSE here: no hung disk tried.\n");
            continue;
        }
        SCOPED_TRACE(row.what);
        Headless tool({"--journal", row.journal});
        tool.send("1\n");
        ASSERT_EQ(tool.answers(2).size(), 2);
        ASSERT_TRUE(QTest::qWaitFor([&] { return readCsv(row.journal).size() == 1; }, 5000));
        const pid_t writer = newestChild(tool.process.processId());
        row.stall(writer);
        auto mend = qScopeGuard([&] { row.mend(writer); }); // also when a check fails
        const int presses = 40000; // more than the pipe and the room in memory hold
        tool.send(QByteArray("2\n").repeated(presses));
        const QStringList answers = tool.answers(presses);
        ASSERT_EQ(answers.size(), presses) << "no press waits for the journal";
        // The clock went on: the last record is of now.
        const QTime stamped = QTime::fromString(answers.last().mid(10, 11) + '0', "hh:mm:ss.zzz");
        EXPECT_LT(std::abs(stamped.msecsTo(QTime::currentTime())), 1000)
            << qPrintable(answers.last());
        QElapsedTimer ending;
        ending.start();
        ::kill(pid_t(tool.process.processId()), SIGTERM);
        ASSERT_TRUE(tool.process.waitForFinished(5000));
        EXPECT_LT(ending.elapsed(), 1000);
        EXPECT_EQ(tool.process.exitCode(), 1);
        const QByteArray said = tool.process.readAllStandardError();
        EXPECT_NE(saidLine(said, "neemt geen rijen meer aan"), "") << "told as it happened";
        EXPECT_TRUE(saidLine(said, "niet in het journaal")
                        .startsWith(QStringLiteral("dorq-pulse: %1 rijen zijn").arg(presses)))
            << said.right(500).constData();
        mend.dismiss();
        row.mend(writer);
        EXPECT_TRUE(QTest::qWaitFor([&] { return gone(writer); }, 10000)) << "the writer ends";
    }
}

TEST(Headless, RowsNotWrittenAreToldAndCountedWhateverSigchldItInherits)
{
    PtyPair line;
    QTemporaryDir dir;
    const QString journal = dir.filePath("j.csv");
    QProcess tool;
    // Inherited as ignored, a child's end could not be waited for.
    tool.setChildProcessModifier([] { ::signal(SIGCHLD, SIG_IGN); });
    tool.start(DORQ_PROGRAM, {"--headless", "--com1", line.deviceName(), "--journal", journal});
    tool.write("com1\n1\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return readCsv(journal).size() == 1; }, 5000));
    QFile status(QStringLiteral("/proc/%1/status").arg(tool.processId()));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    const QByteArray text = status.readAll();
    const qsizetype ignored = text.indexOf("SigIgn:");
    EXPECT_FALSE(text.mid(ignored + 7, 17).trimmed().toULongLong(nullptr, 16) &
                 (1ULL << (SIGCHLD - 1)))
        << "set back to its default at start";
    const pid_t writer = newestChild(tool.processId());
    ::kill(writer, SIGSTOP);
    const auto killed = qScopeGuard([&] { ::kill(writer, SIGKILL); });
    tool.write("2\n3\n4\n");
    QByteArray answers;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (answers += tool.readAllStandardOutput()).count('\n') == 6; }, 5000));
    ::kill(writer, SIGKILL);
    tool.closeWriteChannel();
    ASSERT_TRUE(tool.waitForFinished(5000));
    EXPECT_EQ(tool.exitCode(), 1) << "every press was sent, but three rows are lost";
    const QStringList sent = QString::fromUtf8(answers).split('\n');
    ASSERT_GE(sent.size(), 6);
    const QString told = saidLine(tool.readAllStandardError(), "niet in het journaal");
    EXPECT_TRUE(told.startsWith("dorq-pulse: 3 rijen zijn niet in het journaal " + journal))
        << qPrintable(told);
    EXPECT_TRUE(told.endsWith(QStringLiteral("van \"%1\" tot en met \"%2\"")
                                  .arg(sent[3].mid(5), sent[5].mid(5))))
        << qPrintable(told);
    EXPECT_EQ(readCsv(journal).size(), 1);
}

// Each press's journal row: how far its record's time lies before the moment its row was
// written, in milliseconds.
static QList<qint64> recordLags(const QString &journal)
{
    QList<qint64> lags;
    for (const QStringList &row : readCsv(journal)) {
        const QDateTime written = QDateTime::fromString(row.value(0), Qt::ISODateWithMs);
        const QTime stamped = QTime::fromString(row.value(4).mid(3) + '0', "hh:mm:ss.zzz");
        lags << (written.toLocalTime().time().msecsSinceStartOfDay() -
                 stamped.msecsSinceStartOfDay() + 86400000) %
                    86400000;
    }
    return lags;
}

TEST(Headless, RecordTimesKeepUpWithABurstAndAfterAStop)
{
    QTemporaryDir dir;
    const QString journal = dir.filePath("j.csv");
    Headless tool({"--journal", journal});
    const int burst = 30000; // all waiting at "ready", run at once
    tool.send(QByteArray("1\n").repeated(burst));
    ASSERT_EQ(tool.answers(burst + 1).size(), burst + 1);
    // Stopped, with presses waiting, until well into a later second.
    const pid_t pid = pid_t(tool.process.processId());
    ::kill(pid, SIGSTOP);
    tool.send("2\n3\n");
    tool.process.waitForBytesWritten(1000);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QThread::msleep(1000 + 600 - now % 1000);
    ::kill(pid, SIGCONT);
    ASSERT_EQ(tool.answers(2).size(), 2);
    tool.exitStatus();
    const QList<qint64> lags = recordLags(journal);
    ASSERT_EQ(lags.size(), burst + 2);
    // The clock's step and margin, and room for a busy machine; a clock that stood still
    // while presses ran, or that restarted its count after the stop, lags by far more.
    EXPECT_LT(*std::max_element(lags.begin(), lags.end() - 2), 100);
    EXPECT_LT(std::max(lags[burst], lags[burst + 1]), 100) << "after the stop";
    EXPECT_GE(*std::min_element(lags.begin(), lags.end()), 0) << "never ahead of its press";
}

// libfaketime with threads, where it is installed.
static QString faketimeLibrary()
{
    const QStringList dirs = QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot) << ".";
    for (const QString &dir : dirs) {
        const QString library = "/usr/lib/" + dir + "/faketime/libfaketimeMT.so.1";
        if (QFile::exists(library))
            return library;
    }
    return {};
}

TEST(Headless, RecordsNeverRunBackWhenTheClockIsSetBackALittle)
{
    const QString library = faketimeLibrary();
    if (library.isEmpty())
        GTEST_SKIP() << "libfaketime is not installed";
    QTemporaryDir dir;
    const QString offset = dir.filePath("offset"); // read again once a second
    write(offset, "+0\n");
    Headless tool({"--no-journal"}, {},
                  {"LD_PRELOAD=" + library, "FAKETIME_TIMESTAMP_FILE=" + offset,
                   "FAKETIME_CACHE_DURATION=1", "FAKETIME_DONT_FAKE_MONOTONIC=1",
                   "ASAN_OPTIONS=" + qEnvironmentVariable("ASAN_OPTIONS") +
                       ":verify_asan_link_order=0"});
    ASSERT_EQ(tool.answer(), "ready");
    QList<int> stamps; // centiseconds since midnight
    const auto pressFor = [&](int ms) {
        QElapsedTimer pressing;
        pressing.start();
        while (!pressing.hasExpired(ms)) {
            tool.send("1\n");
            const QTime at = QTime::fromString(tool.answer().mid(10, 11) + '0', "hh:mm:ss.zzz");
            ASSERT_TRUE(at.isValid());
            stamps << at.msecsSinceStartOfDay() / 10;
            QTest::qWait(7);
        }
    };
    pressFor(1200);
    const auto setOffset = [&](const QByteArray &value) { // whole, as libfaketime reads it
        write(offset + ".new", value);
        ::rename(QFile::encodeName(offset + ".new").constData(), QFile::encodeName(offset));
    };
    setOffset("-0.5\n"); // half a second back
    pressFor(2500);
    setOffset("-1.0\n"); // and again
    pressFor(2500);
    const int behind = QTime::currentTime().msecsSinceStartOfDay() / 10 - stamps.last();
    if (stamps.first() > stamps.last())
        GTEST_SKIP() << "ran across midnight";
    EXPECT_NEAR(behind, 100, 30) << "the clock was set back a second in all";
    for (qsizetype i = 1; i < stamps.size(); ++i)
        ASSERT_GE(stamps[i], stamps[i - 1]) << "record " << i << " ran back";
}

TEST(Headless, EndsOnASignalWhateverItsInputAndOutputAreDoing)
{
    QTemporaryDir dir;
    QFile commands(dir.filePath("in"));
    ASSERT_TRUE(commands.open(QIODevice::WriteOnly));
    commands.write(QByteArray("1\n2\n").repeated(200000));
    commands.close();
    QFile selections(dir.filePath("com1"));
    ASSERT_TRUE(selections.open(QIODevice::WriteOnly));
    selections.write(QByteArray("com1\n").repeated(200000)); // each with advice to standard error
    selections.close();
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int heldOpen = ::open(QFile::encodeName(fifo).constData(), O_RDWR); // and never read
    PtyPair terminal; // a terminal nobody reads: a write waits whatever poll said
    const struct
    {
        const char *what;
        QString input;
        std::function<void(QProcess &)> output;
    } rows[] = {
        {"standard output a pipe nobody reads", commands.fileName(), [](QProcess &) {}},
        {"standard output a terminal nobody reads", commands.fileName(),
         [&](QProcess &p) { p.setStandardOutputFile(terminal.deviceName()); }},
        {"standard error a FIFO nobody reads", selections.fileName(),
         [&](QProcess &p) { p.setStandardErrorFile(fifo); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QProcess tool;
        tool.setStandardInputFile(row.input);
        row.output(tool);
        tool.start(DORQ_PROGRAM, {"--headless", "--no-journal", "--com1", dir.filePath("gone")});
        ASSERT_TRUE(tool.waitForStarted());
        QThread::msleep(2000); // no events: what it writes fills what nobody reads
        QElapsedTimer ending;
        ending.start();
        ::kill(pid_t(tool.processId()), SIGTERM);
        ASSERT_TRUE(tool.waitForFinished(5000));
        EXPECT_LT(ending.elapsed(), 1000);
        EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(tool.exitCode(), 1);
    }
    ::close(heldOpen);
}

TEST(Headless, StartsWhateverItIsGiven)
{
    QTemporaryDir dir;
    const auto run = [](const QString &script, const QStringList &environment = {}) {
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &setting : environment)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        shell.setProcessEnvironment(env);
        shell.start("sh", {"-c", script, DORQ_PROGRAM});
        const bool ended = shell.waitForFinished(15000);
        shell.kill();
        shell.waitForFinished();
        return std::make_pair(ended ? shell.exitCode() : -1,
                              shell.readAllStandardOutput() + shell.readAllStandardError());
    };
    // Closed standard descriptors are not taken for Qt's own.
    EXPECT_EQ(run(R"(exec "$0" --headless --no-journal <&- 2>&-)"),
              std::make_pair(0, QByteArray("ready\n")));
    // Without a display no journal file is made.
    const QString journal = dir.filePath("j.csv");
    EXPECT_EQ(run(QString(R"(exec "$0" --journal '%1' 2>/dev/null)").arg(journal),
                  {"QT_QPA_PLATFORM=xcb", "DISPLAY=", "WAYLAND_DISPLAY="})
                  .first,
              2);
    EXPECT_FALSE(QFile::exists(journal));
    // A wall clock that stands still ends in a few seconds, and says so.
    const QString faketime = QStandardPaths::findExecutable("faketime");
    if (faketime.isEmpty())
        GTEST_SKIP() << "faketime is not installed";
    const auto [status, said] =
        run(QString(R"(echo 1 | '%1' -f '2026-12-07 10:00:00' "$0" --headless --no-journal)")
                .arg(faketime),
            // A sanitized program wants its runtime first; faketime preloads before it.
            {"FAKETIME_DONT_FAKE_MONOTONIC=1",
             "ASAN_OPTIONS=" + qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0"});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(said.contains("de klok van het systeem loopt niet")) << said.constData();
}

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return file.fileName();
}

QStringList dryRunOf(const QString &program)
{
    QProcess dry;
    dry.start(QStringLiteral(DORQ_PROGRAM), {"--play", program, "--dry-run"});
    dry.waitForFinished(10000);
    EXPECT_EQ(dry.exitCode(), 0) << dry.readAllStandardError().constData();
    return QString::fromLatin1(dry.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// The records at the far end as a dry run lists them: each one's time as an offset from
// the first's.
QStringList asOffsets(const QByteArray &far)
{
    QStringList lines;
    int first = -1;
    for (qsizetype at = 0; at + 16 <= far.size(); at += 16) {
        const QString record = QString::fromLatin1(far.mid(at, 14));
        const QTime time = QTime::fromString(record.mid(3, 8), "hh:mm:ss");
        const int ticks = time.msecsSinceStartOfDay() / 10 + record.mid(12, 2).toInt();
        if (first < 0)
            first = ticks;
        const int offset = (ticks - first + 8640000) % 8640000;
        lines << QString("%1  +%2.%3")
                     .arg(record[0])
                     .arg(offset / 100)
                     .arg(offset % 100, 2, 10, QChar('0'));
    }
    return lines;
}

} // namespace

TEST(Headless, PlaysAProgramOnItsStepsAsItsDryRunSaidAndItsJournalAgain)
{
    QTemporaryDir dir;
    const QString program = writeFile(
        dir, "train.txt", "# 250 presses 40 ms apart\nport com1\n0 5 every 0.04 times 250\n");
    const QString input = writeFile(dir, "in", "3\n"); // never read, never pressed
    const QStringList promised = dryRunOf(program);
    ASSERT_EQ(promised.size(), 250);
    EXPECT_EQ(promised.back(), "5  +9.96");

    PtyPair line;
    const QString journal = dir.filePath("j.csv");
    Headless tool({"--play", program, "--com1", line.deviceName(), "--journal", journal}, input);
    const QByteArray far = line.read(250 * 16, 30000);
    EXPECT_EQ(tool.exitStatus(), 0);
    EXPECT_EQ(asOffsets(far), promised);
    EXPECT_EQ(line.readAvailable(100), "");
    const QStringList answers =
        QString::fromLatin1(tool.process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(answers.size(), 252);
    EXPECT_EQ(answers.mid(0, 2), QStringList({"ready", "ok PLC op COM1 9600,O,8,1"}));
    for (int i = 0; i < 250; ++i)
        ASSERT_EQ(answers[i + 2], "sent " + far.mid(i * 16, 14)) << i;
    const QByteArray summary = tool.process.readAllStandardError();
    EXPECT_TRUE(summary.contains("gespeeld: 250 verzonden, 0 geweigerd, 0 te laat;"))
        << summary.constData();

    // Each line went after its step began, and within the step: p99 is measured by the
    // benchmark, on a quiet machine.
    std::vector<qint64> lateUs;
    for (const QStringList &row : readCsv(journal)) {
        const QTime sent =
            QDateTime::fromString(row[0].left(23) + row[0].right(6), Qt::ISODateWithMs)
                .toLocalTime()
                .time();
        const QTime step = QTime::fromString(row[4].mid(3) + '0', "hh:mm:ss.zzz");
        lateUs.push_back((sent.msecsSinceStartOfDay() - step.msecsSinceStartOfDay()) * 1000 +
                         row[0].mid(23, 3).toInt());
    }
    ASSERT_EQ(lateUs.size(), 250u);
    std::sort(lateUs.begin(), lateUs.end());
    std::fprintf(stderr, "send time after its step: p50 %lld, p99 %lld, max %lld us\n", lateUs[124],
                 lateUs[247], lateUs[249]);
    EXPECT_GE(lateUs.front(), 2000) << "not before the step's tick";
    EXPECT_LT(lateUs.back(), 12000) << "not after the next step's tick";

    // The journal plays back with the same gaps.
    EXPECT_EQ(dryRunOf(journal), promised);
    PtyPair again;
    Headless replay({"--play", journal, "--com1", again.deviceName(), "--no-journal"});
    EXPECT_EQ(asOffsets(again.read(250 * 16, 30000)), promised);
    EXPECT_EQ(replay.exitStatus(), 0);
}

TEST(Headless, APlayIsCheckedWholeBeforeAnythingAndEndsAtOnceOnASignal)
{
    QTemporaryDir dir;
    PtyPair line;
    const struct
    {
        QByteArray program;
        const char *says;
    } rows[] = {
        {"port com1\n0 1\n0.01 2\n",
         "bad.txt, regel 3: de druk op +0.01 s volgt 10 ms na een druk van regel 2"},
        {"port com1\n0 9\n", "bad.txt, regel 2: kanaal \"9\" bestaat niet"},
        {"port com1\n0 1\n86400.01 2\n", "bad.txt, regel 3: de laatste druk, op +86400.01 s"},
        {"port com1\n0 1 every 0.02 times 10000001\n",
         "bad.txt, regel 2: hier komt het programma boven 4320001 drukken"},
        {"port com1\n1.001 1\n", "bad.txt, regel 2: \"1.001\" valt niet op de klok"},
        {"port com1\nplay 1\n", "bad.txt, regel 2: onbekend woord \"play\""},
        {"0 1\n", "bad.txt noemt geen poort"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.says);
        Headless tool(
            {"--play", writeFile(dir, "bad.txt", row.program), "--com1", line.deviceName()});
        EXPECT_EQ(tool.exitStatus(), 2);
        EXPECT_TRUE(tool.process.readAllStandardError().contains(row.says));
        EXPECT_EQ(tool.process.readAllStandardOutput(), "") << "no port opened";
        EXPECT_EQ(line.readAvailable(20), "");
    }
    Headless folder({"--play", dir.path()});
    EXPECT_EQ(folder.exitStatus(), 2);
    EXPECT_TRUE(folder.process.readAllStandardError().contains("geen gewoon bestand"));

    const QString program = writeFile(dir, "long.txt", "port com1\n0 1 every 0.1 times 1000\n");
    Headless tool({"--play", program, "--com1", line.deviceName(), "--no-journal"});
    const QStringList answers = tool.answers(2 + 3);
    ASSERT_EQ(answers.size(), 5);
    QElapsedTimer ending;
    ending.start();
    ::kill(pid_t(tool.process.processId()), SIGTERM);
    ASSERT_TRUE(tool.process.waitForFinished(5000));
    EXPECT_LT(ending.elapsed(), 500) << "the whole process's end, a sanitizer's included";
    EXPECT_EQ(tool.process.exitCode(), 1);
    const QStringList rest =
        QString::fromLatin1(tool.process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QByteArray sent;
    for (const QString &answer : answers.mid(2) + rest)
        sent += answer.mid(5).toLatin1() + "\r\n";
    EXPECT_EQ(line.read(sent.size(), 2000), sent);
    EXPECT_EQ(line.readAvailable(200), "") << "nothing after the signal";
    const QByteArray summary = tool.process.readAllStandardError();
    EXPECT_TRUE(summary.contains(QByteArray::number(1000 - (3 + rest.size())) + " niet gespeeld"))
        << summary.constData();
}
