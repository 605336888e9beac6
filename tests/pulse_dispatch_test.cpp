#include "fakes.h"
#include "pulse_dispatch.h"
#ifdef Q_OS_UNIX
#include "support/pty_pair.h"
#endif

#include <gtest/gtest.h>

using namespace dorq;
using namespace dorq::test;

namespace {

struct Rig
{
    LocalSecond now = localSecond(2026, 12, 7, 10, 20, 30);
    PulseClock clock{[this] { return now; }};
    RecordingDevice *device = nullptr;
    RecordingComm comm{device};
    RecordingView view;
    PulseDispatch dispatch{clock, comm, view};

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            dispatch.tick();
    }
};

} // namespace

TEST(PulseDispatch, APressWithAnOpenPortLogsShowsAndSendsTheLine)
{
    Rig r;
    r.dispatch.selectPort(1);
    ASSERT_EQ(r.view.status, "PLC op COM1 9600,O,8,1");
    r.ticks(13); // the first tick takes the second, twelve more count
    r.dispatch.channelPress(4);
    EXPECT_EQ(r.view.log, std::deque<std::string>{"5  10:20:30.12"});
    EXPECT_EQ(r.view.lastLine, "5  10:20:30.12<CR><LF>");
    EXPECT_EQ(r.device->written, QByteArray("5  10:20:30.12\r\n"));
    EXPECT_EQ(r.view.status, "PLC op COM1 9600,O,8,1") << "a send leaves the status alone";
}

TEST(PulseDispatch, APressWithoutAPortIsLoggedAndWarnsInBothPlaces)
{
    Rig r;
    r.dispatch.channelPress(0);
    EXPECT_EQ(r.view.log, std::deque<std::string>{"1  00:00:00.00"}) << "before any tick";
    EXPECT_EQ(r.view.lastLine, SelectPortWarning);
    EXPECT_EQ(r.view.status, "Selecteer een comport !!!!");
    EXPECT_TRUE(r.device->written.isEmpty());
    EXPECT_FALSE(r.device->calls.contains("write"));
}

TEST(PulseDispatch, PressesAreLoggedNewestFirstAndShareATickInterval)
{
    Rig r;
    r.dispatch.selectPort(2);
    r.ticks(1);
    r.dispatch.channelPress(0);
    r.dispatch.channelPress(7);
    r.ticks(1);
    r.dispatch.channelPress(2);
    EXPECT_EQ(r.view.log,
              (std::deque<std::string>{"3  10:20:30.01", "8  10:20:30.00", "1  10:20:30.00"}));
    EXPECT_EQ(r.device->written, QByteArray("1  10:20:30.00\r\n8  10:20:30.00\r\n"
                                            "3  10:20:30.01\r\n"));
}

TEST(PulseDispatch, AFailedSendKeepsTheRecordAndThrows)
{
    Rig r;
    r.dispatch.selectPort(1);
    r.device->failOn = "write";
    EXPECT_THROW(r.dispatch.channelPress(5), SerialError);
    EXPECT_EQ(r.view.log.size(), 1u);
    EXPECT_EQ(r.view.lastLine, "6  00:00:00.00<CR><LF>");
    EXPECT_EQ(r.view.status, "PLC op COM1 9600,O,8,1");
}

TEST(PulseDispatch, AFailedSelectionNoLongerClaimsAPort)
{
    Rig r;
    r.dispatch.selectPort(1);
    r.device->failOn = "open";
    EXPECT_THROW(r.dispatch.selectPort(2), SerialError);
    EXPECT_EQ(r.view.status, SelectPortWarning);
    EXPECT_FALSE(r.comm.portOpen());

    r.device->failOn.clear();
    r.dispatch.selectPort(2);
    EXPECT_EQ(r.view.status, "PLC op COM2 9600,O,8,1");
    r.dispatch.portLost();
    EXPECT_EQ(r.view.status, SelectPortWarning);
}

TEST(PulseDispatch, TheClockTextChangesOncePerSecond)
{
    Rig r;
    r.ticks(150);
    EXPECT_EQ(r.view.clockText, "10:20:30");
    EXPECT_EQ(r.view.clockUpdates, 1);
    r.now = localSecond(2026, 12, 7, 10, 20, 31);
    r.ticks(2);
    EXPECT_EQ(r.view.clockText, "10:20:31");
    EXPECT_EQ(r.view.clockUpdates, 2);
}

TEST(PulseDispatch, AnIndexOutsideTheButtonsIsRejected)
{
    Rig r;
    EXPECT_THROW(r.dispatch.channelPress(8), std::invalid_argument);
    EXPECT_THROW(r.dispatch.channelPress(-1), std::invalid_argument);
    EXPECT_TRUE(r.view.log.empty());
}

#ifdef Q_OS_UNIX // the real line is a pseudo-terminal
TEST(PulseDispatch, APressReachesThePeerOfARealLine)
{
    PtyPair pty;
    LocalSecond now = localSecond(2026, 12, 7, 10, 20, 30);
    PulseClock clock([&] { return now; });
    MsComm comm({{1, pty.deviceName()}});
    RecordingView view;
    PulseDispatch dispatch(clock, comm, view);
    dispatch.selectPort(1);
    for (int i = 0; i < 13; ++i)
        dispatch.tick();
    dispatch.channelPress(4);
    EXPECT_EQ(pty.read(100, 300), QByteArray("5  10:20:30.12\r\n"));
}
#endif
