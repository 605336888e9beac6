// The real window with the real serial component, driven as an operator would drive it.
#include "layout_table.h"
#include "failure.h"
#include "serial_error.h"
#include "window_rig.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFontInfo>
#include <QInputDialog>
#include <QMenu>
#include <QProcess>
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
    for (const ControlSpec &spec : FormLayout) {
        SCOPED_TRACE(spec.name + (spec.index >= 0 ? std::to_string(spec.index) : ""));
        QWidget *widget =
            spec.index >= 0 ? window->channelButton(spec.index) : control<QWidget>(spec.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), spec.name);
        EXPECT_EQ(widget->parentWidget()->objectName(), spec.container ? spec.container : "Form1");
        EXPECT_EQ(widget->geometry(),
                  QRect(spec.left / 15, spec.top / 15, spec.width / 15, spec.height / 15));
        EXPECT_TRUE(widget->isVisible());
        if (spec.kind == ControlKind::Button || spec.kind == ControlKind::Option ||
            spec.kind == ControlKind::Frame) {
            const char *property = spec.kind == ControlKind::Frame ? "title" : "text";
            EXPECT_EQ(widget->property(property).toString(), QString::fromUtf8(spec.text));
        }
    }
    // Spot checks in pixels, independent of the table.
    EXPECT_EQ(window->channelButton(7)->geometry(), QRect(120, 248, 105, 25));
    EXPECT_EQ(control<QWidget>("Label4")->geometry(), QRect(152, 184, 97, 25));
    EXPECT_EQ(control<QLabel>("Label4")->font().bold(), true);
}

TEST_F(WindowTest, TabOrderFollowsTheDesign)
{
    open();
    QStringList order;
    QWidget *w = window->channelButton(0);
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            order << w->objectName() + w->property("index").toString();
        w = w->nextInFocusChain();
    } while (w != window->channelButton(0));
    EXPECT_EQ(order, QStringList({"Command10", "Command11", "Command12", "Command13", "Command14",
                                  "Option1", "Option2", "Command15", "Command16", "Command17",
                                  "MSFlexGrid1", "Text1"}));
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
    // A digit held down is one press: its repeats are not.
    QTest::simulateEvent(window.get(), true, Qt::Key_3, Qt::NoModifier, "3", false);
    for (int repeat = 0; repeat < 3; ++repeat)
        QTest::simulateEvent(window.get(), true, Qt::Key_3, Qt::NoModifier, "3", true);
    QTest::simulateEvent(window.get(), false, Qt::Key_3, Qt::NoModifier, "3", false);
    expected += '3';
    EXPECT_EQ(window->focusWidget(), focus) << "a shortcut does not move the focus";
    // Enter and Return press the focused channel button, as Space does.
    window->channelButton(3)->setFocus();
    for (const auto &[key, modifier] :
         {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
        QTest::keyClick(window->channelButton(3), key, modifier);
        expected += '4';
    }
    EXPECT_EQ(window->log().recordCount(), 19u);
    QByteArray channels;
    for (const QByteArray &line : com1.read(19 * 16).split('\n'))
        channels += line.left(1);
    EXPECT_EQ(channels, expected);
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
    EXPECT_EQ(window->selectedRecords(), logRow(0) + '\n' + logRow(2) + '\n');

    QTemporaryDir dir;
    const QString saved = dir.filePath("log.txt");
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        dialog->selectFile(saved);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    QTest::keyClick(grid, Qt::Key_S, Qt::ControlModifier);
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    EXPECT_EQ(QString::fromLatin1(file.readAll()), shown);
    EXPECT_TRUE(reporter.reports.empty());

    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (::geteuid() != 0) { // root writes anywhere
        EXPECT_THROW(window->saveLog(dir.filePath("denied.txt")), Failure);
    }
    try {
        window->saveLog(dir.filePath("no/such/folder/log.txt"));
        ADD_FAILURE() << "saved into a folder that does not exist";
    } catch (const Failure &e) {
        EXPECT_EQ(e.number(), ENOENT) << e.what();
        EXPECT_TRUE(e.text().contains("no/such/folder/log.txt")) << e.what();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("no/such/folder/log.txt")));
}

TEST_F(WindowTest, ADeviceChosenFromTheMenuIsUsedAtOnceAndRemembered)
{
    PtyPair other;
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    choose(1);
    const auto chooseOther = [&](const QString &path) {
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
        whenShown<QInputDialog>([path](QInputDialog *dialog) {
            dialog->setTextValue(path);
            dialog->accept();
        });
        option(1)->setFocus();
        QTest::keyClick(option(1), Qt::Key_F10, Qt::ShiftModifier);
    };
    chooseOther(other.deviceName());
    EXPECT_EQ(com1.programDescriptors(), 0);
    EXPECT_EQ(other.programDescriptors(), 1) << "the open port moved to the new device";
    EXPECT_TRUE(option(1)->isChecked());
    EXPECT_TRUE(option(1)->toolTip().startsWith(other.deviceName()))
        << qPrintable(option(1)->toolTip());
    press(2);
    EXPECT_EQ(other.read(16).left(3), "3  ");
    chooseOther("   "); // nothing given, nothing changed
    EXPECT_EQ(other.programDescriptors(), 1);

    window.reset();
    open({{{2, portPath(2)}}}); // COM1 as remembered
    choose(1);
    press(5);
    EXPECT_EQ(other.read(16).left(3), "6  ");
    EXPECT_TRUE(reporter.reports.empty());
    window->choosePortDevice(1, {}); // back to the default, which this machine may lack
    EXPECT_EQ(PortChoice().device(1), PortChoice::defaultDevice(1));
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

    for (const char *option : {"--version", "--help"}) {
        program.start(QStringLiteral(DORQ_PROGRAM), {option});
        ASSERT_TRUE(program.waitForFinished(5000));
        const QByteArray out = program.readAllStandardOutput();
        EXPECT_EQ(program.exitCode(), 0) << option;
        EXPECT_TRUE(out.contains(std::string(option) == "--help" ? "--com1" : "dorq-pulse 0.01"))
            << out.constData();
    }
}
