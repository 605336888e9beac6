// The real window with the real serial component, driven as an operator would drive it.
#include "layout_table.h"
#include "serial_error.h"
#include "window_rig.h"

#include <QProcess>
#include <cerrno>
#include <gtest/gtest.h>

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
    EXPECT_EQ(window->log().recordCount(), 16u);
    QByteArray channels;
    for (const QByteArray &line : com1.read(16 * 16).split('\n'))
        channels += line.left(1);
    EXPECT_EQ(channels, expected);
    EXPECT_EQ(window->focusWidget(), focus) << "a shortcut does not move the focus";
}

TEST(ErrorAdvice, TellsTheOperatorWhatToDo)
{
    const struct
    {
        int number;
        bool lost;
        const char *advice;
    } rows[] = {
        {EACCES, false, "groep dialout"},
        {EBUSY, false, "in gebruik door een ander programma"},
        {ENOENT, false, "Apparaat /dev/ttyX bestaat niet"},
        {ENOENT, false, "--com1 APPARAAT of --com2 APPARAAT"},
        {EIO, true, "De verbinding met /dev/ttyX is weggevallen"},
        {EIO, false, "De verbinding met /dev/ttyX is weggevallen"},
    };
    for (const auto &row : rows) {
        const QString shown = withAdvice(
            SerialError(row.number, "Kan /dev/ttyX niet openen: oorzaak"), "/dev/ttyX", row.lost);
        EXPECT_TRUE(shown.startsWith("Kan /dev/ttyX niet openen: oorzaak")) << qPrintable(shown);
        EXPECT_TRUE(shown.contains(row.advice)) << qPrintable(shown);
    }
    EXPECT_EQ(withAdvice(SerialError(EINVAL, "iets"), "/dev/ttyX", false), "iets");
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

    for (const char *option : {"--version", "--help"}) {
        program.start(QStringLiteral(DORQ_PROGRAM), {option});
        ASSERT_TRUE(program.waitForFinished(5000));
        const QByteArray out = program.readAllStandardOutput();
        EXPECT_EQ(program.exitCode(), 0) << option;
        EXPECT_TRUE(out.contains(std::string(option) == "--help" ? "--com1" : "dorq-pulse 0.01"))
            << out.constData();
    }
}
