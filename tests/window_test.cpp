// The real window with the real serial component, driven as an operator would drive it.
#include "layout_table.h"
#include "log_actions.h"
#include "port_menu.h"
#include "window_rig.h"
#include "words.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QInputDialog>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTextDocument>
#include <QUrl>
#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace dorq;
using namespace dorq::test;

namespace {

class WindowTest : public ::testing::Test, public WindowRig
{
protected:
    void click(QAbstractButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

    PtyPair &com1 = line(1);
    PtyPair &com2 = line(2);
};

} // namespace

TEST_F(WindowTest, StartsEmptyWithFocusOnTheFirstChannel)
{
    open();
    EXPECT_EQ(window->windowTitle(), "DORQ PLC Pulse test programma Berlio 2004");
    EXPECT_EQ(window->size(), QSize(255, 543));
    EXPECT_FALSE(control<QRadioButton>("Option1")->isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option2")->isChecked());
    for (const char *empty : {"Label2", "Label4", "Text1"})
        EXPECT_EQ(text(empty), "") << empty;
    EXPECT_TRUE(control<QLineEdit>("Text1")->isReadOnly());
    const QAbstractItemModel *log = control<QTableView>("MSFlexGrid1")->model();
    EXPECT_EQ(log->headerData(0, Qt::Horizontal).toString(), "Pulse and time  ");
    EXPECT_EQ(log->rowCount(), 1);
    EXPECT_EQ(log->columnCount(), 1);
    EXPECT_EQ(window->focusWidget(), window->channelButton(0));
    EXPECT_TRUE(text("Label3").contains("Verbind het  DORQ-tijdkoppel"));
    if (QFontInfo(control<QTableView>("MSFlexGrid1")->font()).family() == "Liberation Sans")
        EXPECT_EQ(control<QTableView>("MSFlexGrid1")->font().pointSizeF(), 8.25)
            << "a font to the design's measure is not shrunk";
    else
        ADD_FAILURE() << "no font to the design's measure: install fonts-liberation2";

    QTest::qWait(30);
    EXPECT_EQ(text("Label4"), "10:20:30") << "the first tick fills the clock";
    EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(WindowTest, EveryControlStandsWhereTheLayoutPutsIt)
{
    open();
    for (const ControlEntry &entry : FormLayout) {
        SCOPED_TRACE(entry.name + (entry.index >= 0 ? std::to_string(entry.index) : ""));
        QWidget *widget =
            entry.index >= 0 ? window->channelButton(entry.index) : control<QWidget>(entry.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), entry.name);
        EXPECT_EQ(widget->parentWidget()->objectName(),
                  entry.container ? entry.container : "Form1");
        EXPECT_EQ(widget->geometry(),
                  QRect(entry.left / 15, entry.top / 15, entry.width / 15, entry.height / 15));
        EXPECT_TRUE(widget->isVisible());
        if (entry.kind == ControlKind::Button || entry.kind == ControlKind::Option ||
            entry.kind == ControlKind::Frame) {
            const char *property = entry.kind == ControlKind::Frame ? "title" : "text";
            EXPECT_EQ(widget->property(property).toString(), QString::fromUtf8(entry.text));
        }
    }
    EXPECT_NE(window->findChild<QObject *>("MSComm1"), nullptr) << "the component";
    EXPECT_NE(window->findChild<QTimer *>("Timer1"), nullptr);
    // Spot checks in pixels, independent of the table.
    EXPECT_EQ(window->channelButton(7)->geometry(), QRect(120, 248, 105, 25));
    EXPECT_EQ(control<QWidget>("Label4")->geometry(), QRect(152, 184, 97, 25));
    EXPECT_EQ(control<QLabel>("Label4")->font().bold(), true);
}

TEST_F(WindowTest, TabGoesRoundInTheDesignsOrderAndArrowsMoveInTheLog)
{
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // The two options are one stop, as a group of options is: the chosen one, else the
    // first; the arrow keys move within it.
    for (const auto &[records, option] : {std::pair{0, "Option1"}, {3, "Option2"}}) {
        SCOPED_TRACE(records);
        while (window->log().recordCount() < std::size_t(records))
            press(0);
        if (records)
            choose(2);
        const QStringList design = {"Command10", "Command11",   "Command12", "Command13",
                                    "Command14", option,        "Command15", "Command16",
                                    "Command17", "MSFlexGrid1", "Text1"};
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            window->channelButton(0)->setFocus();
            QStringList walked;
            for (int step = 0; step < design.size(); ++step) {
                QWidget *focus = QApplication::focusWidget();
                walked << focus->objectName() + focus->property("index").toString();
                QTest::keyClick(focus, key);
            }
            EXPECT_EQ(QApplication::focusWidget(), window->channelButton(0)) << "came round";
            if (key == Qt::Key_Backtab) // Kanaal 1, then the rest backwards
                walked =
                    QStringList{walked.front()} + QStringList(walked.rbegin(), walked.rend() - 1);
            EXPECT_EQ(walked.join(' ').toStdString(), design.join(' ').toStdString())
                << "key " << key;
        }
    }
    auto *grid = control<QTableView>("MSFlexGrid1");
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(0, 0));
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(grid->currentIndex().row(), 2);
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(grid->currentIndex().row(), 1);
    EXPECT_EQ(QApplication::focusWidget(), grid);
}

TEST_F(WindowTest, APressWithoutAPortIsLoggedAndAsksForOne)
{
    open();
    QTest::keyClick(window->channelButton(0), Qt::Key_Space); // from the keyboard, as at start
    EXPECT_EQ(logRow(0), "1  00:00:00.00");
    EXPECT_EQ(logRow(1), "") << "the empty row stays last";
    EXPECT_EQ(text("Label2"), "Selecteer een comport !!!!");
    EXPECT_EQ(text("Text1"), "Selecteer een comport !!!!");
    EXPECT_EQ(com1.readAvailable(), QByteArray());
    EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(WindowTest, ChoosingAPortAndPressingSendsTheLine)
{
    open();
    choose(1);
    EXPECT_EQ(text("Label2"), "PLC op COM1 9600,O,8,1");
    EXPECT_TRUE(control<QRadioButton>("Option1")->isChecked());
    QTest::qWait(30);

    press(4);
    const QString sent = QString::fromLatin1(com1.read(16));
    ASSERT_EQ(sent.size(), 16);
    EXPECT_TRUE(sent.startsWith("5  10:20:30.")) << qPrintable(sent);
    EXPECT_TRUE(sent.endsWith("\r\n"));
    EXPECT_EQ(logRow(0), sent.left(14));
    EXPECT_EQ(text("Text1"), sent.left(14) + "<CR><LF>");
    EXPECT_EQ(text("Label2"), "PLC op COM1 9600,O,8,1");

    choose(2);
    EXPECT_EQ(text("Label2"), "PLC op COM2 9600,O,8,1");
    EXPECT_FALSE(control<QRadioButton>("Option1")->isChecked());
    EXPECT_EQ(com1.programDescriptors(), 0);
    press(7);
    EXPECT_TRUE(com2.read(16).startsWith("8  10:20:30."));
    EXPECT_EQ(com1.readAvailable(), QByteArray());
    EXPECT_EQ(logRow(0).left(1), "8");
    EXPECT_EQ(logRow(1).left(1), "5");
    EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(WindowTest, DigitKeysPressTheChannelsLikeAClick)
{
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    choose(1);
    QWidget *focus = control<QLineEdit>("Text1"); // even from the read-only last-line box
    focus->setFocus();
    QByteArray expected;
    for (int i = 0; i < 8; ++i) {
        for (const auto modifier : {Qt::NoModifier, Qt::KeypadModifier}) {
            QTest::keyClick(focus, Qt::Key(Qt::Key_1 + i), modifier);
            EXPECT_EQ(logRow(0).left(1), QString::number(i + 1)) << "modifier " << modifier;
            expected += QByteArray::number(i + 1);
        }
    }
    QTest::keyClick(focus, Qt::Key_9);
    QTest::keyClick(focus, Qt::Key_0);
    EXPECT_EQ(window->focusWidget(), focus) << "a digit does not move the focus";
    // Enter and Return press the focused channel button, as Space does.
    window->channelButton(3)->setFocus();
    for (const auto &[key, modifier] :
         {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
        QTest::keyClick(window->channelButton(3), key, modifier);
        expected += '4';
    }
    EXPECT_EQ(window->log().recordCount(), 18u);
    EXPECT_EQ(channelsOf(com1.read(18 * 16)), expected);
}

TEST_F(WindowTest, AHeldKeyPressesOnceHoweverItsRepeatsArrive)
{
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    choose(1);
    struct Event
    {
        bool press;
        ulong time;  // ms, as the X server stamps them
        bool marked; // as a repeat, which Qt does only when the pair arrived together
    };
    using Together = std::vector<Event>; // delivered before the event loop turns again
    const std::vector<std::pair<int, std::vector<Together>>> ways = {
        // times pressed, events
        {1, {{{1, 0, 0}}, {{0, 660, 1}, {1, 660, 1}}, {{0, 700, 1}, {1, 700, 1}}, {{0, 1200, 0}}}},
        {1, {{{1, 0, 0}}, {{0, 660, 0}, {1, 660, 0}}, {{0, 700, 0}, {1, 700, 0}}, {{0, 1200, 0}}}},
        // unmarked pairs as a busy X server sends them: stamped apart, arriving together;
        // and arriving apart, the press stamped a moment after the release
        {1, {{{1, 0, 0}}, {{0, 660, 0}, {1, 672, 0}}, {{0, 700, 0}, {1, 712, 0}}, {{0, 1200, 0}}}},
        {1,
         {{{1, 0, 0}}, {{0, 660, 0}}, {{1, 661, 0}}, {{0, 700, 0}}, {{1, 700, 0}}, {{0, 1200, 0}}}},
        {1, {{{1, 0, 0}}, {{1, 660, 0}}, {{1, 700, 0}}, {{0, 1200, 0}}}}, // no releases
        {2, {{{1, 0, 0}}, {{0, 40, 0}}, {{1, 80, 0}}, {{0, 120, 0}}}},    // two quick presses
    };
    QWidget *lastLine = control<QLineEdit>("Text1");
    QPushButton *six = window->channelButton(5);
    const std::vector<std::tuple<Qt::Key, Qt::KeyboardModifiers, QWidget *, char>> keys = {
        {Qt::Key_3, Qt::NoModifier, lastLine, '3'},
        {Qt::Key_3, Qt::KeypadModifier, lastLine, '3'},
        {Qt::Key_Space, Qt::NoModifier, six, '6'},
        {Qt::Key_Return, Qt::NoModifier, six, '6'},
        {Qt::Key_Enter, Qt::KeypadModifier, six, '6'}};
    ulong start = 100000;
    QByteArray expected;
    for (const auto &[key, modifiers, target, channel] : keys) {
        target->setFocus();
        for (const auto &[times, groups] : ways) {
            start += 10000;
            for (const Together &events : groups) {
                for (const Event &e : events) {
                    QKeyEvent event(e.press ? QEvent::KeyPress : QEvent::KeyRelease, key, modifiers,
                                    quint32(key & 0xff) + 8, 0, 0, {}, e.marked);
                    event.setTimestamp(start + e.time);
                    QApplication::sendEvent(target, &event);
                }
                QCoreApplication::processEvents();
            }
            expected += QByteArray(times, channel);
        }
    }
    EXPECT_EQ(channelsOf(com1.read(int(expected.size()) * 16)), expected);
    EXPECT_EQ(window->log().recordCount(), std::size_t(expected.size()));
}

TEST_F(WindowTest, CopyAndSaveGiveTheRecordsShownWithoutTheEmptyRow)
{
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (int i : {0, 4, 7})
        press(i);
    auto *grid = control<QTableView>("MSFlexGrid1");
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    const QString shown = logRow(0) + '\n' + logRow(1) + '\n' + logRow(2) + '\n';
    EXPECT_EQ(QApplication::clipboard()->text(), shown);
    grid->clearSelection();
    for (int row : {3, 2, 0}) // the empty row too, picked by hand
        grid->selectionModel()->select(grid->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(window->logActions().selectedRecords(), logRow(0) + '\n' + logRow(2) + '\n');

    QTemporaryDir dir;
    // Made unwritable below: writable again however the test ends, so that it can go.
    const auto writable = qScopeGuard([&] {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const QString saved = dir.filePath("log.txt");
    // selectFile() leaves the name box alone while it has the focus, so the box itself is
    // filled, and the dialog accepted once it answers with that file.
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const bool named = name && QTest::qWaitFor([&] {
                               if (name->text() != saved)
                                   name->setText(saved);
                               return dialog->selectedFiles() == QStringList{saved};
                           });
        if (!named)
            ADD_FAILURE() << "the dialog never chose " << qPrintable(saved) << ": "
                          << qPrintable(dialog->selectedFiles().join(' '));
        QMetaObject::invokeMethod(dialog, named ? "accept" : "reject");
    });
    QTest::keyClick(grid, Qt::Key_S, Qt::ControlModifier);
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    EXPECT_EQ(QString::fromLatin1(file.readAll()), shown);
    EXPECT_TRUE(reporter.reports.empty());

    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (::geteuid() != 0) { // root writes anywhere
        EXPECT_TRUE(saveLog(window->log(), dir.filePath("denied.txt")).has_value());
    }
    const auto failure = saveLog(window->log(), dir.filePath("no/such/folder/log.txt"));
    ASSERT_TRUE(failure.has_value()) << "saved into a folder that does not exist";
    EXPECT_EQ(failure->number, ENOENT) << qPrintable(errorText(*failure));
    EXPECT_TRUE(errorText(*failure).contains("no/such/folder/log.txt"))
        << qPrintable(errorText(*failure));
    EXPECT_FALSE(QFile::exists(dir.filePath("no/such/folder/log.txt")));
}

TEST_F(WindowTest, ADeviceChosenFromTheMenuIsUsedAtOnceAndRemembered)
{
    PtyPair other;
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    choose(1);
    int asked = 0;
    const auto chooseOther = [&](const QString &path) {
        // The menu key reaches the option only while its window has the keyboard.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        whenShown<QMenu>([](QMenu *menu) {
            QStringList items;
            for (QAction *action : menu->actions()) {
                items << action->text();
                if (action->text() == "Ander apparaat...")
                    menu->setActiveAction(action);
            }
            EXPECT_TRUE(items.contains("Standaard (/dev/ttyS0)")) << qPrintable(items.join('|'));
            QTest::keyClick(menu, Qt::Key_Return);
        });
        whenShown<QInputDialog>([path, &asked](QInputDialog *dialog) {
            EXPECT_TRUE(dialog->labelText().contains("/dev/ttyUSB0 of /dev/pts/3"))
                << "this system's own names";
            dialog->setTextValue(path);
            dialog->accept();
            ++asked;
        });
        option(1)->setFocus();
        const int before = asked;
        QTest::keyClick(option(1), Qt::Key_F10, Qt::ShiftModifier);
        ASSERT_EQ(asked, before + 1) << "the menu and the dialog came up";
    };
    QTemporaryDir dir; // a name with capitals, as COM9 on Windows, is kept as typed
    const QString typed = dir.filePath("Kabel-COM9");
    QFile::link(other.deviceName(), typed);
    chooseOther(typed);
    EXPECT_EQ(com1.programDescriptors(), 0);
    EXPECT_EQ(other.programDescriptors(), 1) << "the open port moved to the new device";
    EXPECT_TRUE(option(1)->isChecked());
    EXPECT_TRUE(option(1)->toolTip().startsWith(typed + '\n')) << qPrintable(option(1)->toolTip());
    EXPECT_EQ(PortMemory().read().ports.value(1), typed);
    press(2);
    EXPECT_EQ(other.read(16).left(3), "3  ");
    chooseOther("   "); // nothing given, nothing changed
    EXPECT_EQ(other.programDescriptors(), 1);

    // A device that does not open is not kept, unless the operator insists.
    const QString missing = dir.filePath("Kabel-COM7");
    chooseOther(missing);
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].number, ENOENT);
    EXPECT_TRUE(reporter.reports[0].text.contains("COM1 blijft " + typed))
        << qPrintable(reporter.reports[0].text);
    EXPECT_EQ(PortMemory().read().ports.value(1), typed) << "the earlier device stays";
    EXPECT_TRUE(option(1)->isChecked()) << "and stays open";
    EXPECT_EQ(other.programDescriptors(), 1);
    reporter.keepAnyway = true;
    chooseOther(missing);
    EXPECT_EQ(PortMemory().read().ports.value(1), missing) << "kept as the operator asked";
    EXPECT_FALSE(option(1)->isChecked()) << "closed: it points elsewhere now";
    EXPECT_EQ(other.programDescriptors(), 0);
    reporter.keepAnyway = false;
    reporter.reports.clear();
    chooseOther(typed);
    EXPECT_EQ(PortMemory().read().ports.value(1), typed);

    window.reset();
    open({{{2, portPath(2)}}}); // COM1 as remembered
    EXPECT_EQ(text("Label2"), "COM1 = " + typed) << "a choice of an earlier run is shown";
    choose(1);
    press(5);
    EXPECT_EQ(other.read(16).left(3), "6  ");
    EXPECT_TRUE(reporter.reports.empty());
    window->portMenu().choose(1, {}); // back to the default, which this machine may lack
    EXPECT_EQ(PortMemory().read().ports.value(1), defaultPortMap().value(1));
}

// Stands in for the browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

TEST_F(WindowTest, MeerInfoLinksTheGuideWhereverItIsInstalled)
{
    QTemporaryDir root;
    const QString program = root.filePath("bin");
    QDir().mkpath(program);
    const auto install = [&](const char *relative) {
        const QString path = root.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile(path).open(QIODevice::WriteOnly);
        return path;
    };
    const QString source = guideLocation(program); // nothing installed: a build run in place
    EXPECT_TRUE(source.endsWith("/docs/handleiding.html") && QFile::exists(source))
        << qPrintable(source);
    const QString windows = install("bin/doc/handleiding.html"); // beside the program
    EXPECT_EQ(guideLocation(program).toStdString(), windows.toStdString());
    const QString linux = install("share/doc/dorq-pulse/handleiding.html");
    EXPECT_EQ(guideLocation(program).toStdString(), linux.toStdString());

    open();
    const QString guide = guideLocation(QCoreApplication::applicationDirPath());
    auto *label = control<QLabel>("Label3");
    QTextDocument shown;
    shown.setHtml(label->text());
    // Short, wherever the program lies; the whole path is in the link and its tooltip.
    EXPECT_TRUE(shown.toPlainText().endsWith("Meer info handleiding.html"))
        << qPrintable(shown.toPlainText());
    EXPECT_EQ(label->toolTip(), QDir::toNativeSeparators(guide));
    EXPECT_TRUE(shown.toPlainText().contains("Verbind het  DORQ-tijdkoppel"));
    EXPECT_LE(label->heightForWidth(label->width()), label->height()) << "all of it shows";

    UrlCatcher browser;
    QDesktopServices::setUrlHandler("file", &browser, "open");
    const QRegularExpression link(R"re(href="([^"]+)")re");
    emit label->linkActivated(link.match(label->text()).captured(1));
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0].toLocalFile(), guide);
    EXPECT_TRUE(reporter.news.isEmpty());
    // Offscreen nothing opens a file: the operator is told where it is.
    emit label->linkActivated(link.match(label->text()).captured(1));
    ASSERT_EQ(reporter.news.size(), 1);
    EXPECT_TRUE(reporter.news[0].contains(QDir::toNativeSeparators(guide)));

    // The description keeps the design's size wherever the program lies.
    const QString deep = "/" + QString("installed-in-a-very-deep-folder/").repeated(5) +
                         "share/doc/dorq-pulse/handleiding.html";
    ASSERT_GE(deep.size(), 150);
    QWidget elsewhere;
    elsewhere.setFont(window->font());
    elsewhere.resize(window->size());
    const Form form = buildForm(&elsewhere, deep, reporter);
    EXPECT_EQ(form.label3->font().pointSizeF(), label->font().pointSizeF());
    EXPECT_EQ(form.label3->toolTip(), QDir::toNativeSeparators(deep));
    QFile page(guide);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_TRUE(page.readAll().contains("<html lang=\"nl\""));
}

TEST_F(WindowTest, ClosingTheWindowReleasesThePort)
{
    open();
    choose(1);
    EXPECT_EQ(com1.programDescriptors(), 1);
    window.reset();
    EXPECT_EQ(com1.programDescriptors(), 0);
    MsComm other({{1, com1.deviceName()}});
    other.setPortOpen(true); // free for the next program at once
    EXPECT_TRUE(other.portOpen());
}

TEST(Program, StartsOffscreenAndQuitsCleanly)
{
    PtyPair pty;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DORQ_PROGRAM), {"--com1", pty.deviceName()});
    ASSERT_TRUE(program.waitForStarted(5000));
    QTest::qWait(500);
    ASSERT_EQ(program.state(), QProcess::Running) << program.readAllStandardError().constData();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(5000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    // Without a display: one line that says so and names the way without one, status 2.
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DORQ_PROGRAM), {"--no-journal"});
    ASSERT_TRUE(program.waitForFinished(5000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 2);
    const QList<QByteArray> said = program.readAllStandardError().trimmed().split('\n');
    EXPECT_EQ(said.size(), 1);
    EXPECT_TRUE(said.value(0).contains("--headless")) << said.value(0).constData();

    // Qt's own words, the parser's among them, in Dutch like the program's.
    const std::vector<std::tuple<const char *, int, QByteArrayList>> answers = {
        {"--version", 0, {"dorq-pulse 0.01"}},
        {"--help", 0, {"--com1", "Gebruik: ", "Opties:"}},
        {"--colour", 2, {"Onbekende optie: 'colour'"}}};
    for (const auto &[option, status, words] : answers) {
        program.start(QStringLiteral(DORQ_PROGRAM), {option});
        ASSERT_TRUE(program.waitForFinished(5000));
        const QByteArray out = program.readAllStandardOutput() + program.readAllStandardError();
        EXPECT_EQ(program.exitCode(), status) << option;
        for (const QByteArray &word : words)
            EXPECT_TRUE(out.contains(word)) << option << ": " << out.constData();
    }
}

// A real X server and the keyboard as XTest drives it: the repeats of a held key reach Qt
// marked as repeats or not, as they happen to arrive.
TEST(Program, AKeyHeldDownUnderXSendsOneLine)
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    if (xvfb.isEmpty() || xdotool.isEmpty())
        GTEST_SKIP() << "needs Xvfb and xdotool: apt-get install xvfb xdotool";
    QProcess server;
    server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
    ASSERT_TRUE(server.waitForReadyRead(10000)) << "Xvfb did not start";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ":" + QString::fromLatin1(server.readLine().trimmed()));
    env.remove("QT_QPA_PLATFORM");
    env.remove("WAYLAND_DISPLAY");
    const auto xdo = [&](const QStringList &arguments) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(xdotool, arguments);
        tool.waitForFinished(10000);
        return tool.readAllStandardOutput().trimmed();
    };
    PtyPair com1;
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DORQ_PROGRAM), {"--com1", com1.deviceName(), "--no-journal"});
    QByteArray window;
    for (int wait = 0; wait < 100 && window.isEmpty(); ++wait, QTest::qWait(100))
        window = xdo({"search", "--onlyvisible", "--name", "DORQ PLC Pulse"});
    ASSERT_FALSE(window.isEmpty()) << program.readAllStandardError().constData();
    xdo({"windowfocus", "--sync", window});
    QTest::qWait(300);
    // From "Kanaal 1" to COM1, which Space chooses; then the digit there, and back to
    // "Kanaal 5" for Space and Enter.
    xdo({"key", "--delay", "50", "Tab", "Tab", "Tab", "Tab", "Tab", "space"});
    const auto hold = [&](const QString &key) {
        xdo({"keydown", key, "sleep", "1.2", "keyup", key});
    };
    hold("3");
    xdo({"key", "shift+Tab"});
    hold("space");
    hold("Return");
    EXPECT_EQ(channelsOf(com1.read(3 * 16, 3000)), "355");
    EXPECT_EQ(com1.readAvailable(300), QByteArray()) << "more than one line per key";
    program.terminate();
    program.waitForFinished(5000);
    server.terminate();
    server.waitForFinished(5000);
}

#include "window_test.moc"
