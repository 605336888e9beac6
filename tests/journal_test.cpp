// The journal's file on Unix: what a file holds after rows from one or more instances, when
// the disk fills, the file goes away, or someone else laid out the path.
#include "journal.h"
#include "port_memory.h"
#include "program_options.h"
#include "ms_comm.h"
#include "support/csv.h"
#include "support/pty_pair.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dorq;
using namespace dorq::test;

namespace {

const JournalRow Row{std::chrono::system_clock::now(), "1  10:20:30.00", 1, "/dev/ttyUSB0", "sent"};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

struct Told
{
    explicit Told(Journal &journal)
    {
        journal.onFailure([this](const Error &f) { failures << f; });
    }
    bool waitFor(qsizetype count) // and no more
    {
        return QTest::qWaitFor([&] { return failures.size() >= count; }, 5000) &&
               (QTest::qWait(50), failures.size() == count);
    }
    QList<Error> failures;
};

} // namespace

TEST(Journal, GivesEveryFileItsHeaderAndEveryRowALineOfItsOwn)
{
    const QByteArray cutRow = "2026-12-07T10:20:30.123456+01:00,20261207-102011-42,7,1,1  10:2";
    const struct
    {
        const char *what;
        QByteArray found;  // null: no file
        QByteArray before; // what stands before the new row
    } rows[] = {
        {"no file", {}, JournalHeader},
        {"an empty file", "", JournalHeader},
        {"a header cut short", "time,run,seq,chan", JournalHeader},
        {"a row cut short", JournalHeader + cutRow, JournalHeader + cutRow + "\r\n"},
        {"whole rows", JournalHeader + cutRow + "\r\n", JournalHeader + cutRow + "\r\n"},
    };
    QTemporaryDir dir;
    JournalRow row = Row;
    row.device = "COM \"1\", or\r\nnot";
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        const QString path = dir.filePath("j.csv");
        QFile::remove(path);
        if (!r.found.isNull())
            write(path, r.found);
        QString run;
        {
            const auto journal = Journal::toFile(path);
            journal->append(row);
            run = journal->runId();
            EXPECT_TRUE(journal->finish());
        }
        EXPECT_EQ(contents(path), r.before + csvRow(row, run, 1));
        if (r.found.isNull()) {
            EXPECT_EQ(QFileInfo(path).permissions() & 0x0077, 0) << "a new file is ours alone";
        }
        EXPECT_EQ(readCsv(path).last().mid(5), QStringList({"COM1", row.device, "sent"}));
    }
}

TEST(Journal, EndsARowCutShortBeforeTheNextAndTellsFailuresOnceUntilARowGoesThrough)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("j.csv");
    // The writer inherits a file size limit that lets the second row in only in part.
    rlimit saved = {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur =
        rlim_t(std::strlen(JournalHeader) + csvRow(Row, "20261207-102030-1", 1).size() * 3 / 2);
    ::setrlimit(RLIMIT_FSIZE, &small);
    auto limited = Journal::toFile(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    Told told(*limited);
    for (int i = 0; i < 3; ++i)
        limited->append(Row);
    ASSERT_TRUE(told.waitFor(1));
    EXPECT_EQ(told.failures[0].step, ErrorStep::JournalWrite);
    EXPECT_EQ(told.failures[0].number, EFBIG);

    JournalRow other = Row;
    other.device = "/dev/ttyUSB1";
    Journal::toFile(path)->append(other); // another instance, its file not limited
    const QList<QByteArray> lines = contents(path).split('\n');
    ASSERT_EQ(lines.size(), 5) << contents(path).constData();
    EXPECT_EQ(lines[1] + '\n', csvRow(Row, limited->runId(), 1));
    const QByteArray cut = lines[2].chopped(1); // ended by the other instance's CR LF
    EXPECT_TRUE(csvRow(Row, limited->runId(), 2).startsWith(cut)) << lines[2].constData();
    EXPECT_LT(cut.size() + 2, csvRow(Row, limited->runId(), 2).size());
    EXPECT_EQ(lines[3] + '\n', csvRow(other, limited->runId(), 1)) << "on a line of its own";

    QFile::resize(path, 0); // room again: a row goes through, and the next failure is told
    limited->append(Row);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readCsv(path).size() == 1; }, 5000));
    limited->append(Row);
    EXPECT_TRUE(told.waitFor(2));
    EXPECT_FALSE(limited->finish()) << "rows were lost";
}

TEST(Journal, AFileDeletedOrReplacedIsOpenedAnewAtItsPathAndToldOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("j.csv");
    for (const QByteArray &replacement : {QByteArray(), QByteArray("x,y\r\n")}) {
        SCOPED_TRACE(replacement.isNull() ? "deleted" : "replaced");
        QFile::remove(path);
        auto journal = Journal::toFile(path);
        Told told(*journal);
        journal->append(Row);
        ASSERT_TRUE(QTest::qWaitFor([&] { return readCsv(path).size() == 1; }, 5000));
        QFile::remove(path);
        if (!replacement.isNull()) {
            write(path + ".new", replacement);
            QFile::rename(path + ".new", path);
        }
        journal->append(Row);
        journal->append(Row);
        EXPECT_TRUE(journal->finish());
        ASSERT_EQ(told.failures.size(), 1);
        EXPECT_EQ(told.failures[0].kind, ErrorKind::Replaced);
        EXPECT_EQ(contents(path), (replacement.isNull() ? QByteArray(JournalHeader) : replacement) +
                                      csvRow(Row, journal->runId(), 2) +
                                      csvRow(Row, journal->runId(), 3));
    }
}

// Children of this process that have ended and were not waited for.
static int zombies()
{
    int count = 0;
    for (const QString &task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children("/proc/self/task/" + task + "/children");
        children.open(QIODevice::ReadOnly);
        for (const QByteArray &pid : children.readAll().simplified().split(' ')) {
            QFile stat("/proc/" + pid + "/stat");
            if (!pid.isEmpty() && stat.open(QIODevice::ReadOnly)) {
                const QByteArray line = stat.readAll();
                count += line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
            }
        }
    }
    return count;
}

TEST(Journal, ADayGoneByKeepsNoWriterOnceItsRowsAreDone)
{
    QTemporaryDir dir;
    const auto journal = Journal::daily(dir.filePath("j"));
    JournalRow yesterday = Row;
    yesterday.at -= std::chrono::hours(24);
    journal->append(yesterday);
    journal->append(Row); // the day turns: yesterday's writer has had its last row
    ASSERT_TRUE(QTest::qWaitFor([] { return zombies() == 1; }, 5000)) << "it ended";
    journal->append(Row);
    EXPECT_EQ(zombies(), 0) << "and was waited for at the next row";
    EXPECT_TRUE(journal->finish());
    EXPECT_EQ(readCsv(QDir(dir.filePath("j"))
                          .filePath(Journal::dailyName(
                              QDateTime::fromSecsSinceEpoch(
                                  std::chrono::system_clock::to_time_t(yesterday.at))
                                  .date())))
                  .size(),
              1);
}

// Needs root: only root may mount the small tmpfs that fills up.
TEST(Journal, TwoInstancesOnAFullDiskNeverShareALine)
{
    QTemporaryDir dir;
    if (::mount("tmpfs", dir.path().toLocal8Bit().constData(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
    const QString path = dir.filePath("j.csv");
    {
        auto first = Journal::toFile(path), second = Journal::toFile(path);
        JournalRow other = Row;
        other.device = "/dev/ttyUSB1";
        for (int i = 0; i < 300; ++i) { // more than 16 kB
            first->append(Row);
            second->append(other);
        }
        EXPECT_FALSE(first->finish());
        EXPECT_FALSE(second->finish());
    }
    const QByteArray text = contents(path);
    ::umount(dir.path().toLocal8Bit().constData());
    EXPECT_GT(text.size(), 12 * 1024);
    const QRegularExpression time("\\d{4}-\\d\\d-\\d\\dT");
    for (const QByteArray &line : text.split('\n')) {
        const auto matches = time.globalMatch(QString::fromUtf8(line));
        int count = 0;
        for (auto it = matches; it.hasNext(); it.next())
            ++count;
        EXPECT_LE(count, 1) << line.constData();
        EXPECT_TRUE(count == 0 || time.match(QString::fromUtf8(line)).capturedStart() == 0)
            << line.constData();
    }
}

TEST(Journal, TakesItsFileByteForByteAndRefusesWhatIsNoFile)
{
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/j\xe9.csv";
    const ParsedCommandLine parsed =
        parseCommandLine({"dorq-pulse", "--com1", "--journal", "--journal", "j\uFFFD.csv"},
                         {"dorq-pulse", "--com1", "--journal", "--journal", name});
    EXPECT_EQ(parsed.options.ports.value(1), "--journal");
    ASSERT_EQ(parsed.options.journalFile, name);
    Journal::toNativeFile(name)->append(Row);
    EXPECT_EQ(::unlink(name.constData()), 0) << "the very name";
    // Device names too, valid UTF-8 or not.
    for (const QByteArray &device :
         {QByteArray("/dev/ttyUSB0"), QByteArray("/tmp/w/p\xff\xfename"),
          QByteArray("/t\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xc3"),
          QByteArray("/\xed\xa0\x80\xc0\xaf\xf4\x90\x80\x80\xe0\x80")}) {
        const ParsedCommandLine withDevice = parseCommandLine(
            {"dorq-pulse", "--com1", QString::fromUtf8(device)}, {"dorq-pulse", "--com1", device});
        EXPECT_EQ(nativePath(withDevice.options.ports.value(1)), device) << device.constData();
        if (QString::fromUtf8(device).toUtf8() == device) {
            EXPECT_EQ(displayPath(device), QString::fromUtf8(device)) << "text stays text";
        }
    }

    const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    for (const QByteArray &path : {fifo, QFile::encodeName(dir.path())}) {
        Error failure;
        EXPECT_EQ(Journal::toNativeFile(path, &failure), nullptr) << "opened " << path.constData();
        EXPECT_EQ(failure.kind, ErrorKind::NotAFile) << path.constData();
    }
}

TEST(Journal, AStalledWriterHoldsUpNoRowAndEveryRowNotWrittenIsCountedAndNamed)
{
    ::signal(SIGPIPE, SIG_IGN); // as the program does first: a writer gone is told by EPIPE
    QTemporaryDir dir;
    const QString path = dir.filePath("j.csv");
    auto journal = Journal::toFile(path);
    Told told(*journal);
    journal->append(Row);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readCsv(path).size() == 1; }, 5000));
    const pid_t writer = newestChild();
    ASSERT_EQ(::kill(writer, SIGSTOP), 0);
    const auto killed = qScopeGuard([&] { ::kill(writer, SIGKILL); }); // also when a check fails
    // Many more rows than the pipe and the room in memory hold: none waits for the writer.
    const int rows = 40000;
    JournalRow row = Row;
    for (int i = 0; i < rows; ++i) {
        row.record = QByteArray::number(i).rightJustified(14).toStdString();
        journal->append(row);
    }
    ASSERT_TRUE(told.waitFor(1));
    EXPECT_EQ(told.failures[0].kind, ErrorKind::Lost);
    EXPECT_EQ(told.failures[0].reason, ErrorReason::WriterBehind);
    ::kill(writer, SIGKILL);
    EXPECT_FALSE(journal->finish(5000));
    const auto loss = journal->loss();
    ASSERT_TRUE(loss);
    EXPECT_EQ(loss->rows, rows);
    EXPECT_EQ(loss->firstRecord, QString("0").rightJustified(14));
    EXPECT_EQ(loss->lastRecord, QString::number(rows - 1).rightJustified(14));
    EXPECT_EQ(readCsv(path).size(), 1);
}

// Needs root: the lock is another user's.
TEST(Journal, AnotherUsersLockIsWrittenPastAndOneOfOurOwnWaitedFor)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("j.csv"));
    Journal::toNativeFile(path)->append(Row);
    // Anyone who may read a file may lock it, with `flock -s` say.
    ASSERT_EQ(::chmod(path.constData(), 0644), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        const int fd = ::open(path.constData(), O_RDONLY);
        if (::flock(fd, LOCK_SH) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        [[maybe_unused]] const ssize_t told = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the other user holds the lock";
    {
        auto journal = Journal::toNativeFile(path);
        for (int i = 0; i < 3; ++i)
            journal->append(Row);
        EXPECT_TRUE(journal->finish(5000));
    }
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    EXPECT_EQ(readCsv(QFile::decodeName(path)).size(), 4);

    // A lock of this user's is another instance taking its turn: waited for.
    const int ours = ::open(path.constData(), O_RDONLY);
    ASSERT_EQ(::flock(ours, LOCK_SH), 0);
    auto journal = Journal::toNativeFile(path);
    journal->append(Row);
    QTest::qWait(300);
    EXPECT_EQ(readCsv(QFile::decodeName(path)).size(), 4) << "not written past our own";
    ::close(ours);
    EXPECT_TRUE(QTest::qWaitFor([&] { return readCsv(QFile::decodeName(path)).size() == 5; }, 5000));
    ::close(ready[0]);
    ::close(ready[1]);
}

// Needs root: as an ordinary user a link reaches nothing that user could not reach anyway.
TEST(Journal, AsRootFollowsNoLinkAnotherUserLaidOut)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    const QByteArray secret = base + "/secret", target = secret + "/j.csv";
    ::mkdir(secret.constData(), 0700);
    const uid_t nobody = 65534;
    const auto folder = [](const QByteArray &path, uid_t owner, mode_t mode = 0755) {
        ::mkdir(path.constData(), mode);
        ::chmod(path.constData(), mode);
        return ::chown(path.constData(), owner, owner) == 0;
    };
    const auto link = [](const QByteArray &to, const QByteArray &at, uid_t owner) {
        return ::symlink(to.constData(), at.constData()) == 0 &&
               ::lchown(at.constData(), owner, owner) == 0;
    };
    // Each lays out a journal's path in the folder `at`, root's, and says where it ends.
    const struct
    {
        const char *what;
        std::function<QByteArray(const QByteArray &at)> layOut;
        bool followed;
        ErrorReason reason = ErrorReason::None;
    } rows[] = {
        {"another user's link",
         [&](auto &at) { return link(target, at + "/j.csv", nobody) ? at + "/j.csv" : ""; }, false},
        {"root's link in another user's folder",
         [&](auto &at) {
             return folder(at, nobody) && link(target, at + "/j.csv", 0) ? at + "/j.csv" : "";
         },
         false},
        {"root's link in root's folder",
         [&](auto &at) { return link(target, at + "/j.csv", 0) ? at + "/j.csv" : ""; }, true},
        {"another user's link to a folder on the way",
         [&](auto &at) { return link(secret, at + "/jdir", nobody) ? at + "/jdir/j.csv" : ""; },
         false},
        {"another user's folder on the way",
         [&](auto &at) {
             return folder(at + "/mine", nobody) && folder(at + "/mine/sub", 0)
                        ? at + "/mine/sub/j.csv"
                        : "";
         },
         false},
        {"another user's file in a folder all may write, as /tmp",
         [&](auto &at) -> QByteArray {
             const QByteArray file = at + "/j.csv";
             if (!folder(at, 0, 01777))
                 return {};
             write(QFile::decodeName(file), "");
             return ::chown(file.constData(), nobody, nobody) == 0 ? file : QByteArray();
         },
         false},
        {"another user's file in root's folder",
         [&](auto &at) -> QByteArray {
             write(QFile::decodeName(at + "/j.csv"), "");
             return ::chown((at + "/j.csv").constData(), nobody, nobody) == 0 ? at + "/j.csv"
                                                                             : QByteArray();
         },
         false, ErrorReason::OthersFile},
        {"root's new file in a folder all may write, as /tmp",
         [&](auto &at) { return folder(at, 0, 01777) ? at + "/j.csv" : ""; }, true},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        write(QFile::decodeName(target), "secret\n");
        const QByteArray at = base + '/' + QByteArray::number(++n);
        ::mkdir(at.constData(), 0755);
        const QByteArray path = row.layOut(at);
        ASSERT_FALSE(path.isEmpty());
        const QByteArray before = contents(QFile::decodeName(path));
        Error failure;
        if (const auto journal = Journal::toNativeFile(path, &failure)) {
            journal->append(Row);
            EXPECT_TRUE(journal->finish());
            EXPECT_TRUE(row.followed);
            EXPECT_EQ(readCsv(QFile::decodeName(path)).size(), 1);
        } else {
            EXPECT_FALSE(row.followed);
            EXPECT_EQ(failure.kind, ErrorKind::Untrusted);
            EXPECT_EQ(failure.reason, row.reason);
            EXPECT_EQ(contents(QFile::decodeName(target)), "secret\n");
            EXPECT_EQ(contents(QFile::decodeName(path)), before) << "left as it was";
        }
    }

    // The port: another user's link in another user's folder leads to a terminal not theirs.
    PtyPair line;
    const termios before = line.settings();
    const QByteArray theirs = base + "/theirs";
    ASSERT_TRUE(folder(theirs, nobody) && link(line.deviceName().toLocal8Bit(), theirs + "/plc",
                                                nobody));
    MsComm comm({{1, QFile::decodeName(theirs + "/plc")}, {2, line.deviceName()}});
    try {
        selectPort(comm, 1);
        ADD_FAILURE() << "opened through another user's link";
    } catch (const SerialError &e) {
        EXPECT_EQ(e.error().kind, ErrorKind::Untrusted);
    }
    EXPECT_EQ(line.settings().c_cflag, before.c_cflag) << "the terminal was not touched";
    selectPort(comm, 2); // named directly, it is root's choice
    EXPECT_TRUE(comm.portOpen());

    // The settings likewise: read and written only along a way no other user can change.
    const QString settings =
        QSettings(QSettings::defaultFormat(), QSettings::UserScope, "dorq-pulse", "dorq-pulse")
            .fileName();
    const QByteArray config = QFile::encodeName(QFileInfo(settings).path());
    for (const bool folderTheirs : {false, true}) {
        SCOPED_TRACE(folderTheirs ? "the folder another user's" : "another user's link");
        write(QFile::decodeName(target), "[ports]\nCOM1=/dev/planted\n");
        QDir(QFile::decodeName(config)).removeRecursively();
        QDir().mkpath(QFileInfo(QFile::decodeName(config)).path());
        ASSERT_TRUE(folder(config, folderTheirs ? nobody : 0));
        if (folderTheirs)
            write(settings, "[ports]\nCOM1=/dev/planted\n");
        else
            ASSERT_TRUE(link(target, QFile::encodeName(settings), nobody));
        PortMemory choice;
        EXPECT_EQ(choice.read().ports.value(1), defaultPortMap().value(1));
        ASSERT_EQ(choice.read().problems.size(), 1);
        EXPECT_EQ(choice.read().problems[0].kind, ErrorKind::Untrusted);
        const auto refused = choice.remember(2, "/dev/ttyACM3");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->kind, ErrorKind::Untrusted);
        EXPECT_EQ(contents(QFile::decodeName(target)), "[ports]\nCOM1=/dev/planted\n");
        EXPECT_TRUE(QFileInfo(settings).isSymLink() || contents(settings).contains("planted"));
    }
    QDir(QFile::decodeName(config)).removeRecursively();
}
