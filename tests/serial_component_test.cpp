#include "fakes.h"
#include "line_settings.h"
#include "words.h"

#include <QDir>
#include <cerrno>
#include <gtest/gtest.h>

using namespace dorq;
using namespace dorq::test;

TEST(LineSettings, ParsesTheGeneralForm)
{
    using P = LineSettings::Parity;
    using S = LineSettings::StopBits;
    const struct
    {
        const char *text;
        LineSettings expected;
    } rows[] = {
        {"9600,O,8,1", {9600, P::Odd, 8, S::One}},
        {"9600,o,8,1", {9600, P::Odd, 8, S::One}},
        {"115200,N,8,1", {115200, P::None, 8, S::One}},
        {"1200,E,7,2", {1200, P::Even, 7, S::Two}},
        {"300,M,5,1.5", {300, P::Mark, 5, S::OneAndHalf}},
        {"19200,S,6,1", {19200, P::Space, 6, S::One}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(parseLineSettings(QString::fromLatin1(row.text)), row.expected) << row.text;
}

TEST(LineSettings, RefusesWhatItCannotDoAndNamesTheString)
{
    for (const char *bad : {"", "9600", "9600,O,8", "9600,O,8,1,1", "9600,X,8,1", "9600,O,9,1",
                            "9600,O,4,1", "9600,O,8,3", "1234,O,8,1", "-9600,O,8,1", "9600, O,8,1",
                            "9600,O,8,1 ", "fast,O,8,1", "9600,,8,1"}) {
        try {
            parseLineSettings(QString::fromLatin1(bad));
            ADD_FAILURE() << "accepted \"" << bad << '"';
        } catch (const SerialError &e) {
            EXPECT_EQ(e.number(), ErrorNumber::InvalidPropertyValue);
            EXPECT_TRUE(errorText(e.error()).contains(QLatin1Char('"') + QString::fromLatin1(bad) +
                                                      QLatin1Char('"')))
                << qPrintable(errorText(e.error()));
        }
    }
}

TEST(PortSelection, RunsTheNineStepsInOrderAndOpensTheMappedDevice)
{
    RecordingDevice *device = nullptr;
    RecordingComm comm(device, {{1, "/dev/ttyUSB0"}, {2, "/dev/pts/7"}});
    EXPECT_FALSE(comm.portOpen());

    selectPort(comm, 2);
    EXPECT_EQ(portStatus(2), "PLC op COM2 9600,O,8,1");
    EXPECT_EQ(comm.steps,
              QStringList({"PortOpen=0", "CommPort=2", "Settings=9600,O,8,1", "InputLen=1",
                           "DTREnable=1", "RTSEnable=1", "RThreshold=1", "PortOpen=1"}));
    EXPECT_EQ(device->calls.last(), "open /dev/pts/7 dtr rts");
    EXPECT_TRUE(comm.portOpen());

    selectPort(comm, 1);
    EXPECT_EQ(device->calls.filter("open").last(), "open /dev/ttyUSB0 dtr rts");
    EXPECT_EQ(device->calls.filter("close").size(), 2) << "each selection closes first";
}

TEST(PortSelection, AFailedOpenStopsTheSequence)
{
    RecordingDevice *device = nullptr;
    RecordingComm comm(device);
    device->failOn = "open";
    try {
        selectPort(comm, 1);
        FAIL() << "no error";
    } catch (const SerialError &e) {
        EXPECT_EQ(e.number(), 2);
    }
    EXPECT_EQ(comm.steps.last(), "PortOpen=1");
    EXPECT_FALSE(comm.portOpen());
}

TEST(SerialComponent, RefusesChangesWhileOpenAndOutputWhileClosed)
{
    RecordingDevice *device = nullptr;
    RecordingComm comm(device);
    const auto number = [](auto &&operation) {
        try {
            operation();
        } catch (const SerialError &e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(number([&] { comm.setOutput("x"); }), ErrorNumber::PortNotOpen);
    EXPECT_EQ(number([&] { comm.setCommPort(3); }), ErrorNumber::InvalidPortNumber);
    EXPECT_EQ(number([&] { comm.setInputLen(-1); }), ErrorNumber::InvalidPropertyValue);
    EXPECT_EQ(number([&] { comm.setRThreshold(-1); }), ErrorNumber::InvalidPropertyValue);
    selectPort(comm, 1);
    EXPECT_EQ(number([&] { comm.setCommPort(2); }), ErrorNumber::OperationWhileOpen);
    EXPECT_EQ(number([&] { comm.setSettings("9600,N,8,1"); }), ErrorNumber::OperationWhileOpen);
    EXPECT_EQ(number([&] { comm.setPortOpen(true); }), ErrorNumber::OperationWhileOpen);
    EXPECT_EQ(comm.commPort(), 1);
    EXPECT_EQ(comm.settings(), "9600,O,8,1");
    comm.setPortOpen(false);
    comm.setPortOpen(false); // closing a closed port is harmless
    EXPECT_FALSE(comm.portOpen());
}

TEST(PortNames, NameTheDeviceTheSystemOpens)
{
    const struct
    {
        QString name, path;
    } rows[] = {
#ifdef Q_OS_WIN
        {"COM3", "COM3"},
        {"\\\\.\\COM12", "\\\\.\\COM12"},
#else
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"pts/3", "/dev/pts/3"},
        {"/dev/serial/by-id/usb-FTDI-if00", "/dev/serial/by-id/usb-FTDI-if00"},
        {"./plc", QDir::current().filePath("plc")},
        {"", ""},
#endif
    };
    for (const auto &row : rows)
        EXPECT_EQ(devicePath(row.name), row.path) << qPrintable(row.name);
#ifdef Q_OS_WIN
    EXPECT_EQ(defaultPortMap(), (PortMap{{1, "COM1"}, {2, "COM2"}}));
#else
    EXPECT_EQ(defaultPortMap(), (PortMap{{1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}}));
#endif
}
