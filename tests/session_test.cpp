// The pieces both front ends share: the command interpreter, the journal, the port choice.
#include "command_interpreter.h"
#include "fakes.h"
#include "journal.h"
#include "journal_row.h"
#include "line_reader.h"
#include "port_memory.h"
#include "pulse_program.h"
#include "session.h"
#include "support/csv.h"
#include "words.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace dorq;
using namespace dorq::test;

namespace {

struct SessionRig
{
    // Ticked by hand on a clock of its own, or, with `onWallClock`, on a wall clock the test
    // sets, as the timer would.
    explicit SessionRig(std::unique_ptr<Journal> journal = nullptr, bool onWallClock = false)
    {
        SessionOptions options;
        options.ports = {{1, "/dev/ttyUSB0"}, {2, "/dev/ttyUSB1"}};
        if (onWallClock)
            options.wallMs = [this] { return wall; };
        else
            options.now = [this] { return now; };
        // The session's own line first, then lines to try devices on, failing like it.
        options.devices = [this] {
            auto fake = std::make_unique<RecordingDevice>();
            fake->missing = &missing;
            if (device)
                fake->failOn = device->failOn;
            else
                device = fake.get();
            ++devices;
            return fake;
        };
        options.journal = std::move(journal);
        session = std::make_unique<Session>(std::move(options));
        QObject::connect(session.get(), &Session::journalFailed, [this](const Error &e) {
            reports << QString::number(e.number) + ' ' + errorText(e);
        });
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            session->tick();
    }

    LocalSecond now = localSecond(2026, 12, 7, 10, 20, 30);
    std::int64_t wall = 1796638830000; // ms since 1970, at the start of a second
    RecordingDevice *device = nullptr; // the session's own line
    int devices = 0;                   // lines made, the session's own and those to try on
    QStringList missing;
    QStringList reports;
    std::unique_ptr<Session> session;
};

} // namespace

TEST(Session, APressReturnsWhatBecameOfItsRecord)
{
    using Outcome = PressResult::Outcome;
    SessionRig r;
    PressResult first = r.session->press(0);
    EXPECT_EQ(first.record, "1  00:00:00.00") << "before any tick";
    EXPECT_EQ(first.outcome, Outcome::NoPort);
    EXPECT_FALSE(first.error);
    EXPECT_TRUE(r.device->written.isEmpty());

    int clockTexts = 0;
    QObject::connect(r.session.get(), &Session::clockTextChanged, [&] { ++clockTexts; });
    EXPECT_EQ(r.session->selectPort(1).port, 1);
    r.ticks(13); // the first tick takes the second, twelve more count
    const PressResult sent = r.session->press(4);
    EXPECT_EQ(sent.outcome, Outcome::Sent);
    EXPECT_EQ(std::make_pair(sent.port, sent.device), std::make_pair(1, QString("/dev/ttyUSB0")));
    EXPECT_EQ(r.device->written, QByteArray("5  10:20:30.12\r\n"));
    r.now = localSecond(2026, 12, 7, 10, 20, 31);
    r.ticks(2);
    EXPECT_EQ(r.session->press(7).record, "8  10:20:31.01");
    EXPECT_EQ(clockTexts, 2) << "once per new second";
    EXPECT_EQ(r.session->clockText(), "10:20:31");

    r.device->failOn = "write";
    const PressResult failed = r.session->press(5);
    EXPECT_EQ(failed.outcome, Outcome::Failed);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->step, ErrorStep::Write);
    EXPECT_TRUE(failed.portOpen) << "the fake's failure leaves the port as it was";

    r.device->failOn = "open";
    const SelectResult refused = r.session->selectPort(2);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->path, "/dev/ttyUSB1");
    EXPECT_EQ(r.session->openPort(), 0) << "the first step closed COM1";
    EXPECT_THROW(r.session->press(8), std::invalid_argument);
}

TEST(Session, TheClockCountsTheStepsItMissedAndNeverRunsBack)
{
    const std::int64_t start = SessionRig().wall;
    const struct Step
    {
        const char *what;
        std::int64_t at; // the wall clock, ms after the start
        bool timer;      // a tick of the timer there, before the press
        int second;      // the press's record: its second after the start, its tick field
        const char *ticks;
    } steps[] = {
        {"the first tick takes the second", 5, true, 0, "00"},
        {"steps the timer missed count", 375, false, 0, "37"},
        {"half a second back: held", 5, true, 0, "37"},
        {"...also at a press", 205, false, 0, "37"},
        {"...until the wall clock passes it", 395, false, 0, "39"},
        {"on into the next second", 1205, false, 1, "20"},
        {"back across a second: held", 705, true, 1, "20"},
        {"...and passed", 1215, false, 1, "21"},
        {"forward: followed", 3605, false, 3, "60"},
        {"a second or more back: a new second", 2405, true, 2, "00"},
        {"on to a second's last step", 4995, false, 4, "99"},
        {"half a second back there: held", 4495, true, 4, "99"},
        {"...also in that last step, not counted on past the second", 4997, true, 4, "99"},
        {"...until the next second", 5005, true, 5, "00"},
    };
    SessionRig r(nullptr, true);
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        r.wall = start + step.at;
        if (step.timer)
            r.session->tick();
        const QString second =
            QDateTime::fromMSecsSinceEpoch(start + 1000 * step.second).toString("hh:mm:ss");
        EXPECT_EQ(QString::fromStdString(r.session->press(0).record),
                  "1  " + second + "." + step.ticks);
    }
}

TEST(Session, ADeviceIsKeptForAPortOnlyWhereItOpens)
{
    const struct
    {
        const char *what;
        int openBefore;     // the port open when COM1's device is chosen
        const char *device; // chosen for COM1
        const char *keeps;  // COM1's device afterwards
        int openAfter;
        bool fails;
    } rows[] = {
        {"the open port moves", 1, "/dev/ttyACM0", "/dev/ttyACM0", 1, false},
        {"the open port stays where it was", 1, "/dev/gone", "/dev/ttyUSB0", 1, true},
        {"tried beside the open port", 2, "/dev/ttyACM0", "/dev/ttyACM0", 2, false},
        {"tried while none is open", 0, "/dev/gone", "/dev/ttyUSB0", 0, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        SessionRig r;
        r.missing = {"/dev/gone"};
        if (row.openBefore) {
            ASSERT_FALSE(r.session->selectPort(row.openBefore).error);
        }
        const SelectResult result = r.session->setDevice(1, row.device);
        EXPECT_EQ(bool(result.error), row.fails);
        EXPECT_EQ(result.port, row.openAfter);
        EXPECT_EQ(r.session->openPort(), row.openAfter);
        EXPECT_EQ(r.session->portDevice(1), row.keeps);
        EXPECT_EQ(r.devices, row.openBefore == 1 ? 1 : 2) << "tried on a line of its own";
    }
}

TEST(ErrorWords, SayWhatFailedAndWhatToDoInTheFrontEndsOwnTerms)
{
    const struct
    {
        ErrorKind kind;
        ErrorStep step;
        const char *text;
        const char *advice;
    } rows[] = {
        {ErrorKind::Denied, ErrorStep::Open, "Kan DEV niet openen: oorzaak",
         "U hebt geen toegang tot DEV."},
        {ErrorKind::Busy, ErrorStep::Open,
         "Kan DEV niet openen: oorzaak, in gebruik door minicom "
         "(proces 42), volgens lockbestand /run/lock/LCK..x",
         "in gebruik door een ander programma"},
        {ErrorKind::NotFound, ErrorStep::Open, "Kan DEV niet openen: oorzaak",
         "Apparaat DEV bestaat niet. Controleer de kabel of adapter, of kies een ander apparaat "
         "met een rechtsklik op COM1 of COM2."},
        {ErrorKind::NotSerial, ErrorStep::Open, "Kan DEV niet openen: oorzaak",
         "DEV is geen seriele poort. Controleer het pad, of kies een ander apparaat met een "
         "rechtsklik op COM1 of COM2."},
        {ErrorKind::Lost, ErrorStep::Watch, "Verbinding met DEV verbroken: oorzaak", "weggevallen"},
        {ErrorKind::NotTaken, ErrorStep::Write,
         "Schrijven naar DEV mislukt: de andere kant leest niet en de uitvoerbuffer van het "
         "systeem is vol; deze regel is niet verzonden.",
         "De poort blijft open"},
        {ErrorKind::Refused, ErrorStep::Settings,
         "Kan de instellingen van DEV niet zetten: oorzaak", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        Error e;
        e.kind = row.kind;
        e.step = row.step;
        e.number = 1;
        e.systemText = "oorzaak";
        e.path = "DEV";
        if (row.kind == ErrorKind::Busy)
            e.holder = "minicom", e.holderPid = 42, e.lockFile = "/run/lock/LCK..x";
        EXPECT_EQ(errorText(e), row.text);
        const QString advice = adviceFor(e, FrontEnd::Window);
        EXPECT_EQ(advice.isEmpty(), !*row.advice);
        EXPECT_TRUE(advice.contains(row.advice)) << qPrintable(advice);
    }
}

TEST(CommandInterpreter, AnswersEveryCommandInOneLine)
{
    const struct
    {
        const char *command;
        const char *answer; // a regular expression
        const char *failOn = "";
    } rows[] = {
        {"5", "^unsent 5  00:00:00\\.00: Selecteer een comport !!!!$"},
        {"com1", "^ok PLC op COM1 9600,O,8,1$"},
        {"  COM2\t", "^ok PLC op COM2 9600,O,8,1$"},
        {"8", "^sent 8  00:00:00\\.00$"},
        {" 1 ", "^sent 1  00:00:00\\.00$"},
        {"3", "^error 2: Schrijven naar /dev/ttyUSB1 mislukt: kapot$", "write"},
        {"com1", "^error 2: Kan /dev/ttyUSB0 niet openen: kapot$", "open"},
        {"9", "^error 380: unknown command \"9\"$"},
        {"0", "^error 380: unknown command \"0\"$"},
        {"  Kanaal 1 ", "^error 380: unknown command \"Kanaal 1\"$"},
        {"com3", "^error 380: unknown command \"com3\"$"},
        {"", "^$"},
        {"   ", "^$"},
    };
    SessionRig rig;
    CommandInterpreter interpreter(*rig.session);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command);
        rig.device->failOn = QString::fromLatin1(row.failOn);
        const QString answer = interpreter.execute(QString::fromLatin1(row.command)).line;
        EXPECT_TRUE(QRegularExpression(QString::fromLatin1(row.answer)).match(answer).hasMatch())
            << qPrintable(answer);
    }
    EXPECT_EQ(rig.device->written, "8  00:00:00.00\r\n1  00:00:00.00\r\n");
    rig.device->failOn = "open";
    EXPECT_TRUE(interpreter.execute("com2").advice.contains("--com1 APPARAAT"))
        << "a script's user is told of the options, not of a menu";
    EXPECT_FALSE(interpreter.allWent());
    EXPECT_FALSE(interpreter.quitRequested());
    EXPECT_TRUE(interpreter.execute(" QuIt ").line.isEmpty());
    EXPECT_TRUE(interpreter.quitRequested());

    CommandInterpreter clean(*rig.session);
    rig.device->failOn.clear();
    clean.execute("com1");
    clean.execute("2");
    EXPECT_TRUE(clean.allWent());
    Error io;
    io.kind = ErrorKind::Lost;
    io.step = ErrorStep::Watch;
    io.number = 5;
    io.systemText = "I/O";
    io.path = "/dev/ttyUSB0";
    const auto lost = clean.portLost(io);
    EXPECT_EQ(lost.line, "lost 5: Verbinding met /dev/ttyUSB0 verbroken: I/O");
    EXPECT_TRUE(lost.advice.contains("weggevallen"));
    EXPECT_FALSE(clean.allWent());
}

TEST(Journal, WritesOneRowPerPressWithTheTimeTheLineWent)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("evidence.csv");
    QFile(path).open(QIODevice::WriteOnly); // there already, empty: it gets its header
    std::chrono::system_clock::time_point before, after;
    {
        SessionRig rig(Journal::toFile(path));
        rig.session->press(0);
        rig.session->selectPort(2);
        before = std::chrono::system_clock::now();
        rig.session->press(4);
        after = std::chrono::system_clock::now();
        rig.device->failOn = "write";
        EXPECT_EQ(rig.session->press(7).outcome, PressResult::Outcome::Failed);
        EXPECT_TRUE(rig.session->finishJournal());
        EXPECT_TRUE(rig.reports.isEmpty());
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readLine(), JournalHeader);
    const QList<QStringList> rows = readCsv(path);
    ASSERT_EQ(rows.size(), 3);
    const QStringList &sent = rows[1];
    EXPECT_EQ(sent.mid(2),
              QStringList({"2", "5", "5  00:00:00.00", "COM2", "/dev/ttyUSB1", "sent"}));
    const QDateTime at = QDateTime::fromString(sent[0].left(26), Qt::ISODateWithMs);
    EXPECT_TRUE(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}[+-]\\d\\d:\\d\\d$")
            .match(sent[0])
            .hasMatch())
        << qPrintable(sent[0]);
    const qint64 us = sent[0].mid(20, 6).toLongLong();
    const qint64 atUs = at.toSecsSinceEpoch() * 1000000 + us;
    using std::chrono::duration_cast, std::chrono::microseconds;
    EXPECT_GE(atUs, duration_cast<microseconds>(before.time_since_epoch()).count());
    EXPECT_LE(atUs, duration_cast<microseconds>(after.time_since_epoch()).count());
    EXPECT_EQ(rows[0].mid(2), QStringList({"1", "1", "1  00:00:00.00", "", "", "no port"}));
    EXPECT_EQ(rows[2].mid(2, 5), QStringList({"3", "8", "8  00:00:00.00", "COM2", "/dev/ttyUSB1"}));
    EXPECT_EQ(rows[2][7], "error not-found 2: kapot") << "evidence, not prose";
    for (const QStringList &row : rows)
        EXPECT_EQ(row[1], rows[0][1]) << "one run";
}

TEST(Journal, ItsResultIsEvidenceAProgramCanRead)
{
    const auto press = [](PressResult::Outcome outcome, ErrorKind kind = {}, int number = 0,
                          const char *text = "", int taken = 0) {
        PressResult r;
        r.outcome = outcome;
        if (outcome == PressResult::Outcome::Failed) {
            Error e;
            e.kind = kind, e.number = number, e.systemText = text, e.taken = taken;
            e.path = "/dev/ttyUSB0";
            r.error = e;
        }
        return r;
    };
    using O = PressResult::Outcome;
    using K = ErrorKind;
    const std::pair<PressResult, const char *> rows[] = {
        {press(O::Sent), "sent"},
        {press(O::NoPort), "no port"},
        {press(O::Failed, K::NotTaken, 11, "Resource temporarily unavailable"),
         "error not-taken 11: Resource temporarily unavailable"},
        {press(O::Failed, K::NotTaken, 11, "Resource temporarily unavailable", 5),
         "error partly-taken 11: Resource temporarily unavailable"},
        {press(O::Failed, K::Lost, 5, "Input/output error"), "error lost 5: Input/output error"},
        {press(O::Failed, K::NotTaken, 258, "The wait operation timed out."),
         "error not-taken 258: The wait operation timed out."},
        {press(O::Failed, K::Invalid, 8012), "error invalid 8012"},
        {press(O::Failed, K::Other, 71, "Protocol error"), "error other 71: Protocol error"},
    };
    for (const auto &[result, expected] : rows)
        EXPECT_EQ(journalRow(result).result, expected);
}

// Each row as it must stand in the file, written out: a row built with the code under test
// would agree with any fault of it.
TEST(Journal, RowsAreCsvWithEveryFieldQuotedWhereItMustBe)
{
    using namespace std::chrono;
    const qint64 ms = QDateTime(QDate(2026, 12, 7), QTime(10, 20, 30, 123)).toMSecsSinceEpoch();
    const system_clock::time_point at{milliseconds(ms) + microseconds(456)};
    const struct
    {
        int port;
        const char *device, *result, *after;
    } rows[] = {
        {1, "/dev/ttyUSB0", "sent", "COM1,/dev/ttyUSB0,sent"},
        {0, "", "no port", ",,no port"},
        {2, "/dev/serial/by-path/usb-0:1,2", "sent", "COM2,\"/dev/serial/by-path/usb-0:1,2\",sent"},
        {1, "/tmp/the \"plc\"", "sent", "COM1,\"/tmp/the \"\"plc\"\"\",sent"},
        {1, "/tmp/a\rb", "sent", "COM1,\"/tmp/a\rb\",sent"},
        {1, "/tmp/a\nb", "sent", "COM1,\"/tmp/a\nb\",sent"},
        {1, "/tmp/kabel-\xc3\xa9", "sent", "COM1,/tmp/kabel-\xc3\xa9,sent"}, // UTF-8 as is
        // A system's text may hold anything.
        {1, "/dev/ttyS0", "error other 71: a, b", "COM1,/dev/ttyS0,\"error other 71: a, b\""},
        {1, "/dev/ttyS0", "error other 2: \"x\" gone",
         "COM1,/dev/ttyS0,\"error other 2: \"\"x\"\" gone\""},
        {1, "/dev/ttyS0", "error lost 5: one\rline", "COM1,/dev/ttyS0,\"error lost 5: one\rline\""},
        {1, "/dev/ttyS0", "error lost 5: two\nlines",
         "COM1,/dev/ttyS0,\"error lost 5: two\nlines\""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.after);
        const QByteArray line =
            csvRow({at, "5  10:20:30.12", row.port, QString::fromUtf8(row.device), row.result},
                   "20261207-102030-42", 7);
        EXPECT_EQ(line.left(26).toStdString(), "2026-12-07T10:20:30.123456");
        EXPECT_TRUE(QRegularExpression("^[+-]\\d\\d:\\d\\d,").match(line.mid(26)).hasMatch())
            << line.constData();
        EXPECT_EQ(line.mid(32).toStdString(),
                  std::string(",20261207-102030-42,7,5,5  10:20:30.12,") + row.after + "\r\n");
    }
}

TEST(Journal, DailyFilesGetAHeaderAndFailuresAreToldOnce)
{
    QTemporaryDir dir;
    {
        SessionRig rig(Journal::daily(dir.filePath("journal")));
        rig.session->press(2);
    }
    const QString daily =
        QDir(dir.filePath("journal")).filePath(Journal::dailyName(QDate::currentDate()));
    QFile file(daily);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readLine(), JournalHeader);
    EXPECT_EQ(readCsv(daily).size(), 1);

#ifdef Q_OS_LINUX
    SessionRig full(Journal::toFile("/dev/full"));
    for (int i = 0; i < 3; ++i)
        full.session->press(i);
    EXPECT_FALSE(full.session->finishJournal()) << "rows were lost";
    ASSERT_EQ(full.reports.size(), 1);
    EXPECT_TRUE(full.reports[0].startsWith("28 Kan niet in het journaal /dev/full schrijven"))
        << qPrintable(full.reports[0]);
#endif
    Error failure;
    EXPECT_EQ(Journal::toFile(dir.filePath("no/such/folder/x.csv"), &failure), nullptr);
    EXPECT_EQ(failure.step, ErrorStep::JournalOpen);
    EXPECT_NE(failure.number, 0) << "the system's own: ENOENT, or ERROR_PATH_NOT_FOUND";
    EXPECT_TRUE(failure.path.endsWith("no/such/folder/x.csv")) << qPrintable(failure.path);
}

TEST(PortMemory, CommandLineOverRememberedOverDefault)
{
    const QString file =
        QSettings(QSettings::defaultFormat(), QSettings::UserScope, "dorq-pulse", "dorq-pulse")
            .fileName();
    const QString com1 = defaultPortMap().value(1), com2 = defaultPortMap().value(2);
    const struct
    {
        const char *what;
        QByteArray settings; // the file as found at start
        PortMap commandLine;
        PortMap expected;
        int warnings;
    } rows[] = {
        {"nothing remembered", "", {}, {{1, com1}, {2, com2}}, 0},
        {"remembered", "[ports]\nCOM1=/dev/ttyUSB0\n", {}, {{1, "/dev/ttyUSB0"}, {2, com2}}, 0},
        {"command line wins",
         "[ports]\nCOM1=/dev/ttyUSB0\nCOM2=/dev/ttyACM0\n",
         {{1, "/dev/pts/9"}},
         {{1, "/dev/pts/9"}, {2, "/dev/ttyACM0"}},
         0},
        {"empty value",
         "[ports]\nCOM1=\nCOM2=/dev/ttyACM0\n",
         {},
         {{1, com1}, {2, "/dev/ttyACM0"}},
         1},
        {"not a text",
         "[ports]\nCOM1=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n",
         {},
         {{1, com1}, {2, com2}},
         1},
        {"of a type Qt does not know",
         "[ports]\nCOM1=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\tUnknown\\0)\nCOM2=/dev/ttyACM0\n",
         {},
         {{1, com1}, {2, "/dev/ttyACM0"}},
         1},
        {"control characters",
         "[ports]\nCOM2=\"/dev/tty\\tUSB0\"\n",
         {},
         {{1, com1}, {2, com2}},
         1},
        {"garbage", QByteArray("\xff\xfe[[[\0\x01=\n", 10), {}, {{1, com1}, {2, com2}}, 1},
        {"byte order mark",
         "\xef\xbb\xbf[ports]\nCOM2=/dev/ttyACM0\n",
         {},
         {{1, com1}, {2, "/dev/ttyACM0"}},
         0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QDir().mkpath(QFileInfo(file).path());
        QFile ini(file);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(row.settings);
        ini.close();
        static QStringList qtSaid;
        qtSaid.clear();
        const QtMessageHandler before = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { qtSaid << text; });
        const PortMemory::Remembered found = PortMemory().read(row.commandLine);
        qInstallMessageHandler(before);
        EXPECT_EQ(qtSaid, QStringList()) << "the problems are its own to tell";
        EXPECT_EQ(found.ports, row.expected);
        EXPECT_EQ(found.problems.size(), row.warnings)
            << (found.problems.isEmpty() ? "" : qPrintable(errorText(found.problems[0])));
    }

    PortMemory chosen;
    const auto kept = chosen.remember(2, "/dev/ttyACM3");
    EXPECT_FALSE(kept) << qPrintable(errorText(*kept));
    EXPECT_FALSE(chosen.remember(1, {}));
    EXPECT_EQ(PortMemory().read().ports, (PortMap{{1, com1}, {2, "/dev/ttyACM3"}}))
        << "what was chosen is remembered, what the command line said is not";
    QFile::remove(file);

#ifdef Q_OS_UNIX
    // A FIFO is no file to wait on, neither to read nor to replace.
    QFile::remove(file);
    ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    const PortMemory::Remembered fromFifo = PortMemory().read();
    EXPECT_EQ(fromFifo.ports, (PortMap{{1, com1}, {2, com2}}));
    ASSERT_EQ(fromFifo.problems.size(), 1);
    EXPECT_EQ(fromFifo.problems[0].kind, ErrorKind::NotAFile);
    EXPECT_TRUE(errorText(fromFifo.problems[0]).contains("geen gewoon bestand"));
    const auto unsaved = PortMemory().remember(1, "/dev/ttyUSB0");
    ASSERT_TRUE(unsaved);
    EXPECT_EQ(unsaved->kind, ErrorKind::NotAFile);
    EXPECT_FALSE(QFileInfo(file).isFile()) << "left as it was";
    QFile::remove(file);
#endif

    // A folder that cannot be made, even by root: a file stands in its place.
    const QString folder = QFileInfo(file).path();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    PortMemory unkept;
    const auto problem = unkept.remember(1, "/dev/ttyUSB0");
    ASSERT_TRUE(problem);
    EXPECT_TRUE(errorText(*problem).contains(file)) << qPrintable(errorText(*problem));
    EXPECT_NE(problem->number, 0);
    EXPECT_FALSE(unkept.remember(1, {})) << "said once";
    QFile::remove(folder);
}

TEST(LineReader, DeliversEveryLineInOrderOnTheReadersThreadThenTheEnd)
{
    const struct
    {
        const char *input;
        QStringList lines;
    } rows[] = {
        {"com1\n1\n\n  quit \n", {"com1", "1", "", "  quit "}},
        {"5\r\n8", {"5\r", "8"}}, // the interpreter trims what a Windows pipe leaves
        {"", {}},
    };
    // A thread reading a stream (Windows), and the event loop reading a descriptor (Unix).
    for (const bool onThread : {true, false}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(std::string(onThread ? "thread: " : "descriptor: ") + row.input);
            std::istringstream in(row.input);
            std::unique_ptr<LineReader> reader;
#ifdef Q_OS_UNIX
            int pipeFds[2] = {-1, -1};
            if (!onThread) {
                ASSERT_EQ(::pipe(pipeFds), 0);
                ASSERT_EQ(::write(pipeFds[1], row.input, std::strlen(row.input)),
                          ssize_t(std::strlen(row.input)));
                ::close(pipeFds[1]);
                reader = std::make_unique<LineReader>(pipeFds[0]);
            }
#else
            if (!onThread)
                continue;
#endif
            if (onThread)
                reader = std::make_unique<LineReader>(in);
            QStringList got;
            bool ended = false;
            QObject::connect(reader.get(), &LineReader::lineRead, [&](const QString &line) {
                EXPECT_EQ(QThread::currentThread(), reader->thread());
                got << line;
            });
            QObject::connect(reader.get(), &LineReader::ended, [&] { ended = true; });
            ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, 5000));
            EXPECT_EQ(got, row.lines);
#ifdef Q_OS_UNIX
            if (!onThread)
                ::close(pipeFds[0]);
#endif
        }
    }
    // A reader that goes while its thread still has lines to deliver takes none of them.
    // Never destroyed: the detached thread may still read it while the program ends.
    static auto *const many = new std::istringstream(std::string(100000, '\n'));
    auto reader = std::make_unique<LineReader>(*many);
    reader.reset();
    QTest::qWait(100);
}

namespace {

ParsedProgram parsed(const std::string &text)
{
    ProgramParser parser;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        parser.addLine(line);
    return parser.finish();
}

QStringList dryRun(const PulseProgram &program)
{
    QStringList lines;
    ProgramPress press;
    for (auto presses = program.cursor(); presses.next(press);)
        lines << QString::fromStdString(dryRunLine(press));
    return lines;
}

} // namespace

TEST(PulseProgram, EveryErrorIsToldByItsLineAndSuchAProgramIsNotPlayed)
{
    using K = ProgramError::Kind;
    const std::string header = std::string(JournalHeader, sizeof JournalHeader - 3) + "\n";
    const std::string row = "2026-12-07T10:20:30.123456+01:00,r,1,5,5  10:20:30.12,";
    const struct
    {
        const char *what;
        std::string text;
        std::vector<std::tuple<int, K, int>> errors; // line, kind, the other line
    } rows[] = {
        {"channel 9", "0 9", {{1, K::Channel, 0}}},
        {"channel 0, after a comment", "# c\n\n0 0", {{3, K::Channel, 0}}},
        {"off the grid", "1.234 1", {{1, K::OffGrid, 0}}},
        {"negative", "-1 2", {{1, K::Negative, 0}}},
        {"a decimal comma", "1,5 3", {{1, K::NotANumber, 0}}},
        {"an exponent", "1e3 3", {{1, K::NotANumber, 0}}},
        {"a word", "press 1", {{1, K::UnknownWord, 0}}},
        {"a misspelt every", "0 1 evry 1 times 2", {{1, K::UnknownWord, 0}}},
        {"a word after it all", "0 1 every 1 times 2 more", {{1, K::UnknownWord, 0}}},
        {"no times", "0 1 every 1", {{1, K::Incomplete, 0}}},
        {"no channel", "0", {{1, K::Incomplete, 0}}},
        {"times 0", "0 1 every 1 times 0", {{1, K::Count, 0}}},
        {"times negative", "0 1 every 1 times -2", {{1, K::Negative, 0}}},
        {"two errors on a line", "0.001 9", {{1, K::OffGrid, 0}, {1, K::Channel, 0}}},
        {"a train too dense", "0 1 every 0.01 times 3", {{1, K::TooClose, 1}}},
        {"two lines too close", "5 1\n5.01 2", {{2, K::TooClose, 1}}},
        {"too close, told once",
         "0 1 every 1 times 9\n0.01 2 every 1 times 9",
         {{2, K::TooClose, 1}}},
        {"too close out of order", "10 1\n0 2\n9.99 3", {{1, K::TooClose, 3}}},
        {"past 24 hours", "86400.01 1", {{1, K::TooLong, 0}}},
        {"a train past 24 hours", "0.02 1 every 0.02 times 4320001", {{1, K::TooLong, 0}}},
        {"ten million presses",
         "0 1 every 0.02 times 4000000\n0.01 2 every 0.02 times 6000000",
         {{2, K::TooMany, 0}}},
        {"more than 24 hours hold",
         "0 1 every 0.02 times 4320001\n# and one\n0.01 2",
         {{3, K::TooMany, 0}}},
        {"port after a press", "0 1\nport com1", {{2, K::PortNotFirst, 1}}},
        {"port twice", "port com1\nport com2\n0 1", {{2, K::PortNotFirst, 1}}},
        {"port com3", "port com3\n0 1", {{1, K::UnknownWord, 0}}},
        {"nothing to play", "# only a comment\n", {{0, K::Empty, 0}}},
        {"a journal's bad row",
         header + "garbage\n" + row + "COM1,/dev/x,sent",
         {{2, K::BadRow, 0}}},
        {"a journal on two ports",
         header + row + "COM1,/dev/x,sent\n" + row + "COM2,/dev/y,sent",
         {{3, K::TwoPorts, 2}, {3, K::TooClose, 2}}},
        {"a journal of nothing sent", header + row + ",,no port", {{0, K::Empty, 0}}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        const ParsedProgram p = parsed(r.text);
        std::vector<std::tuple<int, K, int>> got;
        for (const ProgramError &e : p.errors)
            got.emplace_back(int(e.line), e.kind, int(e.otherLine));
        EXPECT_EQ(got, r.errors);
        for (const ProgramError &e : p.errors)
            EXPECT_TRUE(programErrorText(e).startsWith(e.line ? "regel " : "het programma"))
                << qPrintable(programErrorText(e));
    }
    EXPECT_EQ(parsed("86400 1\n0 1 every 0.02 times 3").errors.size(), 0u) << "24 hours is allowed";
    const ParsedProgram dense = parsed("0 1 every 0 times 1000000\n0 2 every 0 times 1000000");
    EXPECT_LE(dense.errors.size(), ParsedProgram::MaxToldErrors);

    QTemporaryDir dir;
    QFile file(dir.filePath("long.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("0 1\n" + QByteArray(100000, '#') + "\n1 2\n");
    file.close();
    ParsedProgram fromFile;
    Error failure;
    ASSERT_TRUE(readPulseProgram(file.fileName(), fromFile, failure));
    ASSERT_EQ(fromFile.errors.size(), 1u);
    EXPECT_EQ(fromFile.errors[0].line, 2);
    EXPECT_EQ(fromFile.errors[0].kind, K::LineTooLong);
    EXPECT_FALSE(readPulseProgram(dir.path(), fromFile, failure));
    EXPECT_EQ(failure.kind, ErrorKind::NotAFile);
    EXPECT_TRUE(errorText(failure).contains("geen gewoon bestand"))
        << qPrintable(errorText(failure));
    EXPECT_FALSE(readPulseProgram(dir.filePath("none"), fromFile, failure));
    EXPECT_EQ(failure.number, ENOENT);
}

TEST(PulseProgram, PlaysInTimeOrderWhateverTheOrderOfItsLinesAndReplaysAJournal)
{
    const ParsedProgram program = parsed("# a train and a pattern\n"
                                         "PORT COM2 # the second\n"
                                         "1.10\t8\n"
                                         "0 1 every 0.5 times 3\n"
                                         "0.25 2 every 0.50 times 3\n"
                                         "1.200 3 # on the grid, however written\n");
    ASSERT_EQ(program.errors.size(), 0u) << qPrintable(programErrorText(program.errors[0]));
    EXPECT_EQ(program.program.port(), 2);
    EXPECT_EQ(program.program.presses(), 8);
    EXPECT_EQ(dryRun(program.program).join(", "),
              "1  +0.00, 2  +0.25, 1  +0.50, 2  +0.75, 1  +1.00, 8  +1.10, 3  +1.20, 2  +1.25");

    // A journal as this tool writes it: lines sent 2.1 ms into step .12, 9.5 ms into step .16
    // (late, yet in its step), 12.5 ms after step .20 began (on the tick of .21), and a row
    // before the first; a press that was not sent; a device whose name holds a comma and a
    // break.
    JournalRow row;
    row.port = 1;
    row.device = "/dev/odd,\nname";
    const std::int64_t second = 1796638830000000;
    std::string text = std::string(JournalHeader);
    for (const auto &[us, channel, result] : {std::tuple{122100, "5", "sent"},
                                              {169500, "6", "sent"},
                                              {212500, "7", "sent"},
                                              {300000, "8", "no port"},
                                              {102200, "4", "sent"}}) {
        row.at = std::chrono::system_clock::time_point(std::chrono::microseconds(second + us));
        row.record = std::string(channel) + "  10:20:30.12";
        row.result = result;
        text += csvRow(row, "run", 1).toStdString();
    }
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    const ParsedProgram replay = parsed(text);
    ASSERT_EQ(replay.errors.size(), 0u) << qPrintable(programErrorText(replay.errors[0]));
    EXPECT_TRUE(replay.program.isJournal());
    EXPECT_EQ(replay.program.port(), 1);
    EXPECT_EQ(replay.program.skippedRows(), 1);
    EXPECT_EQ(dryRun(replay.program).join(", "), "4  +0.00, 5  +0.02, 6  +0.06, 7  +0.11");
}

TEST(PulsePlayer, PressesOnTheirStepsAndSendsMissedOnesAtOnceCountedLate)
{
    SessionRig r(nullptr, true);
    ASSERT_FALSE(r.session->selectPort(1).error);
    const ParsedProgram program = parsed("port com1\n0 1\n0.05 2\n0.5 3 every 0.1 times 3\n2 4\n");
    ASSERT_EQ(program.errors.size(), 0u);
    PulsePlayer player(
        *r.session, program.program,
        {[&r] { return r.wall * 1000; }, [&r](std::int64_t us) { r.wall = us / 1000; }});
    QStringList records;
    int finished = 0;
    QObject::connect(&player, &PulsePlayer::pressed,
                     [&](const PressResult &p) { records << QString::fromStdString(p.record); });
    QObject::connect(&player, &PulsePlayer::finished, [&] { ++finished; });
    const std::int64_t base = r.wall;
    r.wall = base + 400;
    player.start();
    EXPECT_EQ(player.startUs(), (base + 1000) * 1000) << "at the next whole second";
    const auto at = [&](std::int64_t ms) { // a moment of the play, and the timer's turn there
        r.wall = base + 1000 + ms;
        player.playDue();
    };
    at(1); // the step's start; its tick comes 2 ms later
    EXPECT_TRUE(records.isEmpty());
    at(2);
    at(51); // the clock's timer missed five steps meanwhile: counted at the press
    EXPECT_EQ(records.size(), 1);
    // The timer wakes 3 ms before the press, which waits the rest finer.
    r.wall = base + 1000 + 52 - 3;
    player.playDue();
    EXPECT_TRUE(QTest::qWaitFor([&] { return records.size() == 2; }, 1000));
    at(705); // two presses missed: all due at once, none lost, none twice
    at(2002);
    const QString second = QDateTime::fromMSecsSinceEpoch(base + 1000).toString("hh:mm:ss");
    const QString third = QDateTime::fromMSecsSinceEpoch(base + 3000).toString("hh:mm:ss");
    EXPECT_EQ(records.join(", "), QString("1  S.00, 2  S.05, 3  S.70, 3  S.70, 3  S.70, 4  T.00")
                                      .replace("S", second)
                                      .replace("T", third));
    EXPECT_EQ(r.device->written.count("\r\n"), 6);
    EXPECT_EQ(finished, 1);
    const PlaySummary &s = player.summary();
    EXPECT_EQ(std::make_tuple(s.sent, s.refused, s.late, s.unplayed),
              std::make_tuple(6LL, 0LL, 2LL, 0LL))
        << "the press due at .70 went in its step";
    EXPECT_EQ(s.lateness.maxUs(), 205000);
    EXPECT_EQ(s.lateness.percentileUs(50), 2000);
    EXPECT_FALSE(s.allOnTheirSteps());

    // Stopped, or without a port: told, not lost.
    PulsePlayer again(
        *r.session, program.program,
        {[&r] { return r.wall * 1000; }, [&r](std::int64_t us) { r.wall = us / 1000; }});
    again.start();
    r.session->closePort();
    r.wall = again.startUs() / 1000 + 2;
    again.playDue();
    again.stop();
    EXPECT_EQ(
        std::make_tuple(again.summary().sent, again.summary().refused, again.summary().unplayed),
        std::make_tuple(0LL, 1LL, 5LL));
}
