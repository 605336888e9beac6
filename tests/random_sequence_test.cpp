// Thousands of random operator actions, clock jumps and device mishaps against a small
// model of what the window and the far ends of the lines must show.
#include "ms_comm.h"
#include "window_rig.h"

#include <array>
#include <deque>
#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace dorq;
using namespace dorq::test;

namespace {

enum class Device { Good, Missing, Busy };

std::string twoDigits(int n)
{
    return {char('0' + n / 10 % 10), char('0' + n % 10)};
}

// What must be true, worked out independently of the program's own code.
struct Model
{
    LocalSecond stamp{std::numeric_limits<std::int64_t>::min(), 0};
    int count = 0;
    std::deque<std::string> log;
    QString lastLine, status;
    int open = 0; // the port that is open, 0 for none
    int reports = 0;
    std::array<Device, 3> device{Device::Good, Device::Good, Device::Good};
    std::array<QByteArray, 3> atPeer;

    void tick(const LocalSecond &now)
    {
        if (now == stamp) {
            ++count;
        } else {
            stamp = now;
            count = 0;
        }
    }
    void press(int index)
    {
        const int s = stamp.secondOfDay;
        const std::string record = std::to_string(index + 1) + "  " + twoDigits(s / 3600) + ":" +
                                   twoDigits(s / 60 % 60) + ":" + twoDigits(s % 60) + "." +
                                   twoDigits(count % 100);
        log.push_front(record);
        lastLine = QString::fromStdString(record) + "<CR><LF>";
        if (open) {
            atPeer[std::size_t(open)] += QByteArray::fromStdString(record) + "\r\n";
        } else {
            status = lastLine = QStringLiteral("Selecteer een comport !!!!");
        }
    }
    void select(int port)
    {
        open = 0;
        if (device[std::size_t(port)] == Device::Good) {
            open = port;
            status = QStringLiteral("PLC op COM%1 9600,O,8,1").arg(port);
        } else {
            fail();
        }
    }
    void fail()
    {
        open = 0;
        status = QStringLiteral("Selecteer een comport !!!!");
        ++reports;
    }
};

} // namespace

TEST(RandomSequence, WindowAndLinesFollowTheModel)
{
    const unsigned seed = qEnvironmentVariableIsSet("DORQ_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("DORQ_SEED"))
                              : 20261207u;
    const int steps = 10000;
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };

    WindowRig rig;
    rig.open();
    Model model;
    std::array<std::unique_ptr<MsComm>, 3> holders;
    std::array<QByteArray, 3> received;

    for (int step = 0; step < steps; ++step) {
        const int port = 1 + pick(2);
        const auto p = std::size_t(port);
        std::string event;
        const int roll = pick(100);
        if (roll < 40) {
            event = "tick";
        } else if (roll < 48) {
            event = "next second, tick";
            rig.now.secondOfDay = (rig.now.secondOfDay + 1) % 86400;
            rig.now.day += rig.now.secondOfDay == 0;
        } else if (roll < 51) {
            event = "clock jump, tick";
            rig.now = {rig.now.day + pick(5) - 2, pick(86400)};
        } else if (roll < 78) {
            const int index = pick(8);
            event = "press " + std::to_string(index + 1);
            rig.press(index);
            model.press(index);
        } else if (roll < 88) {
            event = "choose COM" + std::to_string(port);
            rig.choose(port);
            model.select(port);
        } else if (roll < 91 && model.device[p] == Device::Good && !holders[p]) {
            event = "hang-up COM" + std::to_string(port);
            rig.line(port).hangUp();
            rig.connectPort(port, {}); // the cable program takes its link with it
            model.device[p] = Device::Missing;
            received[p].clear(), model.atPeer[p].clear();
            if (model.open == port) {
                model.fail();
                ASSERT_TRUE(QTest::qWaitFor(
                    [&] { return int(rig.reporter.reports.size()) == model.reports; }, 2000))
                    << "seed " << seed << " step " << step << ": hang-up not noticed";
            }
        } else if (roll < 94 && model.device[p] == Device::Missing) {
            event = "peer back on COM" + std::to_string(port);
            rig.replaceLine(port);
            model.device[p] = Device::Good;
        } else if (roll < 97 && model.device[p] == Device::Good && model.open != port) {
            event = "another program takes COM" + std::to_string(port);
            holders[p] = std::make_unique<MsComm>(PortMap{{1, rig.line(port).deviceName()}});
            holders[p]->setPortOpen(true);
            model.device[p] = Device::Busy;
        } else if (model.device[p] == Device::Busy) {
            event = "the other program lets COM" + std::to_string(port) + " go";
            holders[p].reset();
            model.device[p] = Device::Good;
        } else {
            event = "tick";
        }
        if (event.size() >= 4 && event.compare(event.size() - 4, 4, "tick") == 0) {
            rig.tick();
            model.tick(rig.now);
        }

        SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step) + ": " +
                     event);
        ASSERT_EQ(rig.window->log().recordCount(), model.log.size());
        if (!model.log.empty()) {
            ASSERT_EQ(rig.logRow(0).toStdString(), model.log.front());
        }
        ASSERT_EQ(rig.text("Text1"), model.lastLine);
        ASSERT_EQ(rig.text("Label2"), model.status);
        ASSERT_EQ(rig.window->session().openPort(), model.open);
        ASSERT_EQ(int(rig.reporter.reports.size()), model.reports);
        for (int q = 1; q <= 2; ++q) {
            ASSERT_EQ(rig.option(q)->isChecked(), model.open == q) << "COM" << q;
            if (model.device[std::size_t(q)] == Device::Missing)
                continue;
            received[std::size_t(q)] += rig.line(q).readNow();
            ASSERT_EQ(received[std::size_t(q)], model.atPeer[std::size_t(q)]) << "COM" << q;
        }
    }
    for (std::size_t row = 0; row < model.log.size(); ++row)
        ASSERT_EQ(rig.logRow(int(row)).toStdString(), model.log[row]) << "row " << row;
    EXPECT_GT(model.reports, 10) << "the sequence exercised failures";
}
