// What the tool promises when devices, peers and clocks misbehave: each fault is reported
// once, the window tells the truth about the port, the log keeps every record, nothing
// spins, and choosing the port again works once the cause is gone.
#include "pulse_record.h"
#include "support/csv.h"
#include "window_rig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace dorq;
using namespace dorq::test;

namespace {

const QString Warning = QStringLiteral("Selecteer een comport !!!!");

// Another program holding a port the way this tool does, as another user where we may.
class Holder
{
public:
    void start(const QString &device, bool asAnotherUser = false)
    {
        QString program = QStringLiteral(DORQ_PORT_HOLDER);
        if (asAnotherUser && ::geteuid() == 0) {
            ::chmod(QFile::encodeName(device).constData(), 0666);
            // That user may not reach the build tree (a checkout in a private folder).
            m_reachable.emplace();
            ::chmod(QFile::encodeName(m_reachable->path()).constData(), 0755);
            const QString copy = m_reachable->filePath(QStringLiteral("port_holder"));
            ASSERT_TRUE(QFile::copy(program, copy));
            program = copy;
            m_process.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(3);
            });
        }
        m_process.start(program, {device});
        ASSERT_TRUE(m_process.waitForReadyRead(10000)) << m_process.readAllStandardError().data();
        ASSERT_EQ(m_process.readAllStandardOutput(), "open\n");
    }
    // Killed without a chance to clean up: its lock file and line settings stay behind.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    ~Holder() { kill(); }

private:
    std::optional<QTemporaryDir> m_reachable;
    QProcess m_process;
};

struct FaultRig : WindowRig
{
    Holder holder;
    QTemporaryDir scratch;
};

// As an unprivileged user, whatever the suite runs as.
void chooseWithoutPermission(FaultRig &rig, int port)
{
    const QByteArray device = QFile::encodeName(rig.line(port).deviceName());
    ::chmod(device.constData(), 0);
    const bool root = ::geteuid() == 0;
    // Closed while still root: a lock file made as root cannot be removed as another user.
    rig.window->session().closePort();
    if (root) {
        ASSERT_EQ(::seteuid(65534), 0);
    }
    rig.choose(port);
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
}

struct Fault
{
    const char *name;
    std::function<void(FaultRig &)> cause; // brings the fault about on COM1
    int number;                            // the error number the operator must see
    std::function<void(FaultRig &)> mend;  // takes the cause away
    const char *says = "";                 // and what the report must say besides the path
};

const Fault Faults[] = {
    {"device missing", [](FaultRig &r) { r.connectPort(1, {}), r.choose(1); }, ENOENT,
     [](FaultRig &r) { r.connectPort(1, r.line(1).deviceName()); },
     "bestaat niet. Controleer de kabel of adapter, of kies een ander apparaat met een "
     "rechtsklik op COM1 of COM2."},
    {"not a terminal",
     [](FaultRig &r) {
         const QString plain = r.scratch.filePath("plain");
         QFile(plain).open(QIODevice::WriteOnly);
         r.connectPort(1, plain);
         r.choose(1);
     },
     ENOTTY, [](FaultRig &r) { r.connectPort(1, r.line(1).deviceName()); },
     "is geen seriele poort"},
    {"permission denied", [](FaultRig &r) { chooseWithoutPermission(r, 1); }, EACCES,
     [](FaultRig &r) { ::chmod(QFile::encodeName(r.line(1).deviceName()).constData(), 0620); }},
    {"held by another program",
     [](FaultRig &r) {
         r.holder.start(r.line(1).deviceName());
         r.choose(1);
     },
     EBUSY, [](FaultRig &r) { r.holder.kill(); }, "in gebruik door port_holder (proces "},
    {"peer hangs up while idle",
     [](FaultRig &r) {
         r.choose(1);
         r.line(1).hangUp();
     },
     EIO, [](FaultRig &r) { r.replaceLine(1); }},
    {"peer hangs up, then a press",
     [](FaultRig &r) {
         r.choose(1);
         r.line(1).hangUp();
         r.press(3);
     },
     EIO, [](FaultRig &r) { r.replaceLine(1); }},
};

void PrintTo(const Fault &fault, std::ostream *out)
{
    *out << fault.name;
}

class FaultMatrix : public ::testing::TestWithParam<Fault>
{
};

} // namespace

TEST_P(FaultMatrix, IsReportedOnceTruthfullyWithoutSpinningAndMends)
{
    const Fault &fault = GetParam();
    FaultRig rig;
    rig.open();
    rig.choose(2);
    rig.press(0);
    const QString first = rig.logRow(0);

    fault.cause(rig);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.reporter.reports.empty(); }, 1000))
        << "noticed within a second";
    const double cpu = cpuShareWhileRunning(1000);
    ASSERT_EQ(rig.reporter.reports.size(), 1u);
    const Report &report = rig.reporter.reports[0];
    EXPECT_EQ(report.number, fault.number) << qPrintable(report.text);
    EXPECT_TRUE(report.text.contains(rig.portPath(1))) << qPrintable(report.text);
    EXPECT_TRUE(report.text.contains(QString::fromUtf8(fault.says))) << qPrintable(report.text);
    EXPECT_LT(cpu, 0.05);

    EXPECT_EQ(rig.window->session().openPort(), 0);
    EXPECT_LE(rig.line(1).programDescriptors(), 0);
    EXPECT_EQ(rig.line(2).programDescriptors(), 0) << "choosing COM1 closed COM2 first";
    EXPECT_EQ(rig.text("Label2"), Warning);
    EXPECT_FALSE(rig.option(1)->isChecked());
    rig.press(1);
    EXPECT_EQ(rig.logRows(), rig.presses + 1) << "every press logged, the empty row last";
    EXPECT_EQ(rig.logRow(rig.presses - 1), first);
    EXPECT_EQ(rig.text("Text1"), Warning);
    EXPECT_EQ(rig.line(2).readNow().left(3), "1  ") << "the press before the fault was sent";

    fault.mend(rig);
    rig.choose(1);
    EXPECT_EQ(rig.reporter.reports.size(), 1u);
    EXPECT_EQ(rig.text("Label2"), "PLC op COM1 9600,O,8,1");
    EXPECT_TRUE(rig.option(1)->isChecked());
    rig.press(2);
    EXPECT_EQ(rig.line(1).read(16).left(3), "3  ");
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(Faults),
                         [](const ::testing::TestParamInfo<Fault> &row) {
                             QString name = QString::fromLatin1(row.param.name);
                             name.remove(QRegularExpression("[^A-Za-z]"));
                             return name.toStdString();
                         });

// Runs as root: its holder and the program it keeps out are two other, ordinary users.
TEST(Faults, LocksEndWithTheProcessThatHeldThePort)
{
    FaultRig rig;
    const QString device = rig.line(1).deviceName();
    const bool root = ::geteuid() == 0;
    const auto asOrdinaryUser = [root](const std::function<void()> &act) {
        if (root) {
            ASSERT_EQ(::seteuid(65533), 0);
        }
        act(); // as root the kernel would let it pass locks that stop everyone else
        if (root) {
            ASSERT_EQ(::seteuid(0), 0);
        }
    };
    rig.holder.start(device, true);
    rig.open(PortMap{{1, device}, {2, rig.line(2).deviceName()}}); // no link in a private folder
    asOrdinaryUser([&] { rig.choose(1); });
    ASSERT_EQ(rig.reporter.reports.size(), 1u);
    EXPECT_EQ(rig.reporter.reports[0].number, EBUSY);
    EXPECT_TRUE(rig.reporter.reports[0].text.contains("in gebruik door port_holder (proces "))
        << qPrintable(rig.reporter.reports[0].text);
    rig.reporter.reports.clear();
    rig.holder.kill();
    asOrdinaryUser([&] {
        rig.choose(1);
        rig.press(4);
    });
    EXPECT_TRUE(rig.reporter.reports.empty()) << "a killed holder of another user left nothing";
    EXPECT_EQ(rig.line(1).read(16).left(3), "5  ");

    // Lock files of other serial programs count while the process they name runs as the
    // file's owner, or holds the device open: anyone can write one.
    const QString lockFile = QStringLiteral("/run/lock/LCK..") +
                             rig.line(1).deviceName().mid(5).replace(QLatin1Char('/'), '_');
    QFile lock(lockFile);
    if (!lock.open(QIODevice::WriteOnly))
        GTEST_SKIP() << "no lock directory to write to";
    // Also when a check fails: left behind, it would keep every user off this pty's number.
    const auto removeLock = qScopeGuard([&] { lock.remove(); });
    QProcess gone;
    gone.start(QStringLiteral("true"));
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 gonePid = gone.processId();
    gone.waitForFinished();
    // Ours; the opener with the device open but no lock of its own; and, as root, a process
    // of a user who may not open the device.
    QProcess alive, opener, outsider;
    opener.setStandardInputFile(rig.line(1).deviceName());
    outsider.setChildProcessModifier([] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
    });
    for (QProcess *process : {&alive, &opener, &outsider}) {
        process->start(QStringLiteral("sleep"), {QStringLiteral("60")});
        ASSERT_TRUE(process->waitForStarted());
    }
    QList<Error> notices;
    QObject::connect(&rig.window->session(), &Session::notice,
                     [&](const Error &notice) { notices << notice; });
    // As root the file goes to another user; as anyone else it is ours, and PID 1 is not.
    const uid_t another = ::geteuid() == 0 ? 65534 : ::geteuid();
    const struct
    {
        const char *what;
        qint64 pid;
        uid_t owner;
        bool blocks;
    } rows[] = {
        {"its process is gone", gonePid, ::geteuid(), false},
        {"its owner's process lives", alive.processId(), ::geteuid(), true},
        {"forged, naming another user's process", 1, another, false},
        {"naming a process with the device open", opener.processId(), another, true},
        {"its owner's process lives, but its owner may not open the device",
         outsider.processId(), 65534, false},
    };
    // As a pty is made: its user may open it, the group tty only write to it.
    ::chmod(QFile::encodeName(device).constData(), 0620);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.owner == 65534 && ::geteuid() != 0)
            continue; // takes another user
        notices.clear();
        ASSERT_EQ(::fchown(lock.handle(), row.owner, gid_t(-1)), 0);
        lock.resize(0);
        lock.write(QByteArray::number(row.pid).rightJustified(10) + '\n');
        lock.flush();
        rig.reporter.reports.clear();
        rig.choose(2);
        rig.choose(1);
        ASSERT_EQ(rig.reporter.reports.size(), row.blocks ? 1u : 0u);
        // One not believed is said, on standard error, naming the file.
        ASSERT_EQ(notices.size(), row.blocks ? 0 : 1);
        if (!row.blocks) {
            EXPECT_EQ(notices[0].lockFile, lockFile);
            EXPECT_EQ(notices[0].holderPid, row.pid);
        }
        if (row.blocks) {
            EXPECT_EQ(rig.reporter.reports[0].number, EBUSY);
            EXPECT_TRUE(rig.reporter.reports[0].text.contains(
                QStringLiteral("(proces %1), volgens lockbestand %2").arg(row.pid).arg(lockFile)))
                << qPrintable(rig.reporter.reports[0].text);
        }
    }
    lock.remove();
    // A FIFO planted as the lock file would hold up a reader until someone writes into it.
    ASSERT_EQ(::mkfifo(QFile::encodeName(lockFile).constData(), 0644), 0);
    rig.reporter.reports.clear();
    rig.choose(2);
    rig.choose(1);
    EXPECT_TRUE(rig.reporter.reports.empty());
    for (QProcess *process : {&alive, &opener, &outsider}) {
        process->kill();
        process->waitForFinished();
    }
}

TEST(Faults, AStreamFromThePeerIsDroppedNotHoarded)
{
    const auto residentBytes = [] {
        QFile statm(QStringLiteral("/proc/self/statm"));
        statm.open(QIODevice::ReadOnly);
        return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
    };
    FaultRig rig;
    rig.open();
    rig.choose(1);
    const QByteArray chunk(4096, 'x');
    qint64 sent = 0;
    const qint64 before = residentBytes();
    QElapsedTimer clock;
    clock.start();
    while (!clock.hasExpired(10000)) {
        rig.line(1).write(chunk); // returns only once the program has taken earlier bytes
        sent += chunk.size();
    }
    const qint64 growth = residentBytes() - before;
    EXPECT_GT(sent, 64 << 20) << "the program kept reading";
    EXPECT_LT(growth, 32 << 20) << sent << " bytes received";
    rig.press(0);
    EXPECT_EQ(rig.line(1).read(16).left(3), "1  ");
    EXPECT_TRUE(rig.reporter.reports.empty());
}

TEST(Faults, AFarEndThatStopsReadingLosesNoLineReportedSentAndNoCloseWaits)
{
    const struct
    {
        const char *how;
        std::function<void(FaultRig &)> close;
    } closes[] = {
        {"switch to COM2", [](FaultRig &r) { r.choose(2); }},
        {"COM1 again", [](FaultRig &r) { r.choose(1); }},
        {"window closed", [](FaultRig &r) { r.window.reset(); }},
    };
    for (const auto &close : closes) {
        SCOPED_TRACE(close.how);
        FaultRig rig;
        rig.journalPath = rig.scratch.filePath("journal.csv");
        rig.open();
        rig.choose(1);
        rig.tick();
        const int burst = 3000; // more than the system buffers; the far end reads nothing
        for (int i = 0; i < burst; ++i)
            rig.window->channelButton(i % 8)->click();
        const auto &reports = rig.reporter.reports;
        const int sent = burst - int(reports.size());
        ASSERT_GT(sent, 0);
        ASSERT_LT(sent, burst);
        for (const Report &report : reports)
            ASSERT_EQ(report.number, EAGAIN) << qPrintable(report.text);
        EXPECT_TRUE(reports.back().text.contains("de andere kant leest niet"));
        EXPECT_EQ(rig.window->session().openPort(), 1);
        EXPECT_EQ(rig.window->log().recordCount(), std::size_t(burst));

        QElapsedTimer closing;
        closing.start();
        close.close(rig);
        EXPECT_LT(closing.elapsed(), 100);

        // Every line reported sent arrives, whole and in order, and nothing else.
        const QByteArray got = rig.line(1).read(sent * 16, 5000);
        EXPECT_EQ(rig.line(1).readAvailable(50), QByteArray());
        ASSERT_EQ(got.size(), sent * 16);
        for (int i = 0; i < sent; ++i)
            ASSERT_EQ(got.mid(i * 16, 16), QByteArray::number(i % 8 + 1) + "  10:20:30.00\r\n")
                << "line " << i;
        // The journal says the same: what arrived was sent, the rest failed.
        rig.window.reset(); // its rows all written
        const QList<QStringList> rows = readCsv(rig.journalPath);
        ASSERT_EQ(rows.size(), burst);
        for (int i = 0; i < burst; ++i) {
            ASSERT_EQ(rows[i][4], QString::number(i % 8 + 1) + "  10:20:30.00");
            if (i < sent)
                ASSERT_EQ(rows[i][7], "sent");
            else
                ASSERT_EQ(rows[i][7],
                          "error not-taken 11: " + QString::fromLocal8Bit(std::strerror(EAGAIN)));
        }
    }
}

TEST(Faults, RowsTheJournalLostAreToldInTheWindowBeforeItCloses)
{
    FaultRig rig;
    rig.journalPath = rig.scratch.filePath("journal.csv");
    rig.open();
    rig.choose(1);
    rig.press(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readCsv(rig.journalPath).size() == 1; }, 5000));
    const pid_t writer = newestChild();
    ::kill(writer, SIGSTOP);
    const auto killed = qScopeGuard([&] { ::kill(writer, SIGKILL); });
    for (int i = 1; i <= 3; ++i)
        rig.press(i);
    ::kill(writer, SIGKILL);
    rig.window->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.window->isVisible(); }, 5000));
    ASSERT_FALSE(rig.reporter.reports.empty());
    const QString told = rig.reporter.reports.back().text;
    EXPECT_TRUE(told.startsWith("3 rijen zijn niet in het journaal " + rig.journalPath))
        << qPrintable(told);
    EXPECT_TRUE(told.contains(QStringLiteral("van \"2  ")) && told.contains("tot en met \"4  "))
        << qPrintable(told);
}

TEST(Faults, ClockJumpsKeepRecordsWellFormed)
{
    const struct
    {
        const char *what;
        LocalSecond from, to;
        const char *record; // the first press after the jump, one tick into the new second
    } jumps[] = {
        {"set back an hour", localSecond(2026, 12, 7, 10, 20, 30),
         localSecond(2026, 12, 7, 9, 20, 30), "1  09:20:30.01"},
        {"forward a day", localSecond(2026, 12, 7, 10, 20, 30),
         localSecond(2026, 12, 8, 10, 20, 30), "1  10:20:30.01"},
        {"across midnight", localSecond(2026, 12, 31, 23, 59, 59), localSecond(2027, 1, 1, 0, 0, 0),
         "1  00:00:00.01"},
    };
    for (const auto &jump : jumps) {
        SCOPED_TRACE(jump.what);
        FaultRig rig;
        rig.open();
        rig.choose(1);
        rig.now = jump.from;
        rig.tick(57);
        rig.now = jump.to;
        rig.tick(2);
        rig.press(0);
        EXPECT_EQ(rig.logRow(0), jump.record);
        EXPECT_EQ(rig.line(1).read(16), QByteArray(jump.record) + "\r\n");
        EXPECT_EQ(rig.text("Label4"), QString::fromLatin1(jump.record).mid(3, 8));
    }

    FaultRig rig; // one second that never ends
    rig.open();
    rig.tick(250001);
    rig.press(7);
    EXPECT_EQ(rig.logRow(0), "8  10:20:30.00");
}
