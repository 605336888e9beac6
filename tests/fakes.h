#pragma once

#include "error.h"
#include "ms_comm.h"
#include "serial_device.h"

#include <QStringList>
#include <memory>
#include <string>

namespace dorq::test {

// A serial device that only remembers what it was asked, and fails where told to.
class RecordingDevice : public SerialDevice
{
public:
    QStringList calls;
    QByteArray written;
    QString failOn; // "open", "write", ... throws SerialError instead, with "kapot" as its text
    const QStringList *missing = nullptr; // devices that are not there
    bool open_ = false;
    QString name;

    void open(const DeviceRequest &r) override
    {
        name = r.name;
        if (missing && missing->contains(r.name)) {
            Error e;
            e.kind = ErrorKind::NotFound;
            e.number = 2;
            e.path = r.name;
            throw SerialError(e);
        }
        record(
            QStringLiteral("open"),
            QStringLiteral("open %1 %2 %3").arg(r.name, r.dtr ? "dtr" : "-", r.rts ? "rts" : "-"));
        open_ = true;
    }
    void close() override
    {
        calls << QStringLiteral("close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    void setDtr(bool on) override { record(QStringLiteral("dtr"), on ? "dtr on" : "dtr off"); }
    void setRts(bool on) override { record(QStringLiteral("rts"), on ? "rts on" : "rts off"); }
    void write(const QByteArray &bytes) override
    {
        record(QStringLiteral("write"), QStringLiteral("write"));
        written += bytes;
    }

private:
    void record(const QString &op, const QString &call)
    {
        calls << call;
        if (op != failOn)
            return;
        Error e;
        e.step = op == QLatin1String("open")    ? ErrorStep::Open
                 : op == QLatin1String("write") ? ErrorStep::Write
                                                : ErrorStep::ModemLine;
        e.kind = ErrorKind::NotFound;
        e.number = 2;
        e.systemText = QStringLiteral("kapot");
        e.path = name;
        throw SerialError(e);
    }
};

// The component with every property set written down in order.
class RecordingComm : public MsComm
{
public:
    explicit RecordingComm(RecordingDevice *&device, PortMap ports = defaultPortMap())
        : MsComm(std::move(ports), makeDevice(device))
    {
    }
    QStringList steps;

    void setPortOpen(bool open) override
    {
        note("PortOpen", open);
        MsComm::setPortOpen(open);
    }
    void setCommPort(int port) override
    {
        note("CommPort", port);
        MsComm::setCommPort(port);
    }
    void setSettings(const QString &s) override
    {
        steps << QStringLiteral("Settings=") + s;
        MsComm::setSettings(s);
    }
    void setInputLen(int n) override
    {
        note("InputLen", n);
        MsComm::setInputLen(n);
    }
    void setDTREnable(bool on) override
    {
        note("DTREnable", on);
        MsComm::setDTREnable(on);
    }
    void setRTSEnable(bool on) override
    {
        note("RTSEnable", on);
        MsComm::setRTSEnable(on);
    }
    void setRThreshold(int n) override
    {
        note("RThreshold", n);
        MsComm::setRThreshold(n);
    }

private:
    static std::unique_ptr<SerialDevice> makeDevice(RecordingDevice *&out)
    {
        auto device = std::make_unique<RecordingDevice>();
        out = device.get();
        return device;
    }
    void note(const char *name, int value)
    {
        steps << QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(value);
    }
};

} // namespace dorq::test
