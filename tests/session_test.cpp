// The pieces both front ends share: the command interpreter, the journal, the port choice.
#include "command_interpreter.h"
#include "error_words.h"
#include "failure.h"
#include "fakes.h"
#include "journal.h"
#include "journal_place.h"
#include "journal_row.h"
#include "line_reader.h"
#include "port_choice.h"
#include "session.h"
#include "support/csv.h"

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
#include <unistd.h>
#endif

using namespace dorq;
using namespace dorq::test;

namespace {

struct SessionRig
{
    explicit SessionRig(std::unique_ptr<Journal> journal = nullptr)
    {
        auto fake = std::make_unique<RecordingDevice>();
        device = fake.get();
        SessionOptions options;
        options.ports = {{1, "/dev/ttyUSB0"}, {2, "/dev/ttyUSB1"}};
        options.now = [this] { return now; };
        options.device = std::move(fake);
        options.journal = std::move(journal);
        session = std::make_unique<Session>(std::move(options));
        QObject::connect(session.get(), &Session::journalFailed,
                         [this](int number, const QString &text) {
                             reports << QString::number(number) + ' ' + text;
                         });
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            session->tick();
    }

    LocalSecond now = localSecond(2026, 12, 7, 10, 20, 30);
    RecordingDevice *device = nullptr;
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
    EXPECT_EQ(r.session->selectPort(1).status, "PLC op COM1 9600,O,8,1");
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
    EXPECT_EQ(refused.error->device, "/dev/ttyUSB1");
    EXPECT_FALSE(r.session->comm().portOpen()) << "the first step closed COM1";
    EXPECT_THROW(r.session->press(8), std::invalid_argument);
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
        {ErrorKind::Denied, ErrorStep::Open, "Kan DEV niet openen: oorzaak", "groep dialout"},
        {ErrorKind::Busy, ErrorStep::Open,
         "Kan DEV niet openen: oorzaak, in gebruik door minicom "
         "(proces 42), volgens lockbestand /run/lock/LCK..x",
         "in gebruik door een ander programma"},
        {ErrorKind::NotFound, ErrorStep::Open, "Kan DEV niet openen: oorzaak",
         "Apparaat DEV bestaat niet. Controleer de kabel of adapter, of KIES."},
        {ErrorKind::NotSerial, ErrorStep::Open, "Kan DEV niet openen: oorzaak",
         "DEV is geen seriele poort. Controleer het pad, of KIES."},
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
        e.device = "DEV";
        if (row.kind == ErrorKind::Busy)
            e.holder = "minicom", e.holderPid = 42, e.lockFile = "/run/lock/LCK..x";
        EXPECT_EQ(errorText(e), row.text);
        const QString advice = adviceFor(e, "KIES");
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
    io.device = "/dev/ttyUSB0";
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
    EXPECT_EQ(rows[2][7], "error 2: Schrijven naar /dev/ttyUSB1 mislukt: kapot");
    for (const QStringList &row : rows)
        EXPECT_EQ(row[1], rows[0][1]) << "one run";
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
        {1, "/dev/ttyS0", "error 11: leest niet, niet verzonden",
         "COM1,/dev/ttyS0,\"error 11: leest niet, niet verzonden\""},
        {1, "/dev/ttyS0", "error 2: Kan \"x\" niet openen",
         "COM1,/dev/ttyS0,\"error 2: Kan \"\"x\"\" niet openen\""},
        {1, "/dev/ttyS0", "error 5: een\rregel", "COM1,/dev/ttyS0,\"error 5: een\rregel\""},
        {1, "/dev/ttyS0", "error 5: twee\nregels", "COM1,/dev/ttyS0,\"error 5: twee\nregels\""},
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
        QDir(dir.filePath("journal")).filePath(dailyJournalName(QDate::currentDate()));
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
    EXPECT_THROW(Journal::toFile(dir.filePath("no/such/folder/x.csv")), Failure);
}

TEST(PortChoice, CommandLineOverRememberedOverDefault)
{
    const QString file =
        QSettings(QSettings::defaultFormat(), QSettings::UserScope, "dorq-pulse", "dorq-pulse")
            .fileName();
    const QString com1 = PortChoice::defaultDevice(1), com2 = PortChoice::defaultDevice(2);
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
        const PortChoice choice(row.commandLine);
        EXPECT_EQ(choice.ports(), row.expected);
        EXPECT_EQ(choice.warnings().size(), row.warnings)
            << qPrintable(choice.warnings().join('\n'));
    }

    PortChoice chosen({{1, "/dev/pts/9"}});
    chosen.choose(2, "/dev/ttyACM3");
    chosen.reset(1);
    EXPECT_EQ(PortChoice().ports(), (PortMap{{1, com1}, {2, "/dev/ttyACM3"}}))
        << "what was chosen is remembered, what the command line said is not";
    EXPECT_FALSE(chosen.takeProblem());
    QFile::remove(file);

    // A folder that cannot be made, even by root: a file stands in its place.
    const QString folder = QFileInfo(file).path();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    PortChoice unkept;
    unkept.choose(1, "/dev/ttyUSB0");
    const auto problem = unkept.takeProblem();
    ASSERT_TRUE(problem);
    EXPECT_TRUE(problem->text.contains(file)) << qPrintable(problem->text);
    EXPECT_NE(problem->number, 0);
    unkept.reset(1);
    EXPECT_FALSE(unkept.takeProblem()) << "said once";
    EXPECT_EQ(unkept.device(1), com1) << "the choice holds for this run";
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
